#include "tests/support/fakecategorytree.h"

#include "tests/support/fakehttpserver.h"

#include <QRegularExpression>
#include <QXmlStreamWriter>

namespace TestSupport {

namespace {

void writeCategory(QXmlStreamWriter &xml, const FakeCategoryTree::Category &category, int level)
{
    xml.writeStartElement(QStringLiteral("Category"));
    xml.writeTextElement(QStringLiteral("CategoryID"), category.id);
    xml.writeTextElement(QStringLiteral("CategoryLevel"), QString::number(level));
    xml.writeTextElement(QStringLiteral("CategoryName"), category.name);
    xml.writeTextElement(QStringLiteral("CategoryParentID"),
                         category.parentId.isEmpty() ? category.id : category.parentId);
    if (category.leaf)
        xml.writeTextElement(QStringLiteral("LeafCategory"), QStringLiteral("true"));
    xml.writeEndElement();
}

struct Reply
{
    QByteArray body;
    QXmlStreamWriter xml { &body };
    int count = 0;

    Reply()
    {
        xml.writeStartDocument();
        xml.writeStartElement(QStringLiteral("GetCategoriesResponse"));
        xml.writeDefaultNamespace(QStringLiteral("urn:ebay:apis:eBLBaseComponents"));
        xml.writeTextElement(QStringLiteral("Ack"), QStringLiteral("Success"));
        xml.writeStartElement(QStringLiteral("CategoryArray"));
    }
    QByteArray finish()
    {
        xml.writeEndElement();
        xml.writeTextElement(QStringLiteral("CategoryCount"), QString::number(count));
        xml.writeEndDocument();
        return body;
    }
};

} // namespace

void FakeCategoryTree::add(const QString &id, const QString &parentId, const QString &name,
                           bool leaf)
{
    m_categories.append({ id, parentId, name, leaf });
    m_levels.insert(id, parentId.isEmpty() ? 1 : m_levels.value(parentId) + 1);
}

void FakeCategoryTree::serve(FakeHttpServer &server) const
{
    // Parent id ("" for the top level) -> the reply.
    QHash<QString, std::shared_ptr<Reply>> replies;
    replies.insert(QString(), std::make_shared<Reply>());
    for (const Category &category : m_categories) {
        const int level = m_levels.value(category.id);
        auto &own = replies[category.id];
        if (!own)
            own = std::make_shared<Reply>();
        writeCategory(own->xml, category, level);
        ++own->count;
        auto &above = replies[category.parentId];
        if (!above)
            above = std::make_shared<Reply>();
        writeCategory(above->xml, category, level);
        ++above->count;
    }
    auto bodies = std::make_shared<QHash<QString, QByteArray>>();
    for (auto it = replies.begin(); it != replies.end(); ++it)
        bodies->insert(it.key(), it.value()->finish());
    const QByteArray unknown = Reply().finish();
    server.setCallHandler(QStringLiteral("GetCategories"), [bodies, unknown](const RecordedRequest &request) {
        static const QRegularExpression parent(
            QStringLiteral("<CategoryParent>([^<]*)</CategoryParent>"));
        const QString parentId = parent.match(QString::fromUtf8(request.body)).captured(1);
        return FakeReply::ok(bodies->value(parentId, unknown),
                             QByteArrayLiteral("text/xml; charset=utf-8"));
    });
}

} // namespace TestSupport
