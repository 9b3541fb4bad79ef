#include "marketplace/xmlnode.h"

#include "core/statics.h"
#include "core/xmlattributescan.h"

#include <QCoreApplication>
#include <QHash>
#include <QXmlStreamReader>

#include <algorithm>
#include <vector>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("XmlNode", text);
}

// What the tree takes besides the characters of names, texts and values and the places in
// the lists of children (measured on 64-bit Linux, allocator overhead included): an element
// (its shared node), a list of children, an attribute (its map entry and value string), an
// element's own text string, and a distinct name.
constexpr qint64 kElementBytes = 96;
constexpr qint64 kListBytes = 32;
constexpr qint64 kAttributeBytes = 96;
constexpr qint64 kTextBytes = 48;
constexpr qint64 kNameBytes = 64;
constexpr qint64 kMinTreeBytes = 1024 * 1024;

// One string per distinct element and attribute name, shared by every node that has it.
class Names
{
public:
    // The shared string for `name`; `cost` grows by what a name seen first takes.
    QString take(const QStringRef &name, qint64 *cost)
    {
        // A copy: a string shared with the reader would keep its buffer alive.
        const QString text(name.constData(), name.size());
        auto it = m_names.constFind(text);
        if (it == m_names.constEnd()) {
            *cost += kNameBytes + 2 * qint64(text.size());
            it = m_names.insert(text, text);
        }
        return *it;
    }

private:
    QHash<QString, QString> m_names;
};

} // namespace

XmlNode::Data::~Data()
{
    // Children only this tree holds are emptied here, one after the other, before they
    // go; a child still held elsewhere goes on living with its subtree.
    std::vector<std::shared_ptr<Data>> pending;
    for (XmlNode &child : children) {
        if (child.d)
            pending.push_back(std::move(child.d));
    }
    children.clear();
    while (!pending.empty()) {
        std::shared_ptr<Data> node = std::move(pending.back());
        pending.pop_back();
        if (node.use_count() == 1) {
            for (XmlNode &child : node->children) {
                if (child.d)
                    pending.push_back(std::move(child.d));
            }
            node->children.clear();
        }
    }
}

XmlNode XmlNode::parse(const QByteArray &xml, QString *error, Failure *failure)
{
    return parse(xml, Limits(), error, failure);
}

XmlNode XmlNode::parse(const QByteArray &xml, const Limits &limits, QString *error,
                       Failure *failure)
{
    auto fail = [&](Failure why, const QString &reason) {
        if (error)
            *error = reason;
        if (failure)
            *failure = why;
        return XmlNode();
    };
    if (failure)
        *failure = Failure::None;
    if (xml.size() > limits.maxDocumentBytes)
        return fail(Failure::TooLarge,
                    tr("Das Dokument ist größer als %1.").arg(Statics::sizeText(limits.maxDocumentBytes)));

    // Before the reader: it would take minutes over an element of very many attributes.
    XmlAttributeScan attributes(limits.maxAttributes);
    if (!attributes.feed(xml))
        return fail(Failure::TooLarge,
                    tr("Das Element \"%1\" hat mehr als %2 Attribute.")
                        .arg(attributes.element())
                        .arg(limits.maxAttributes));

    // The tree is given up as soon as it would take more than its share: what it took until
    // then is released with it.
    const qint64 maxTree = std::max(kMinTreeBytes, qint64(limits.maxTreeFactor) * xml.size());
    qint64 tree = 0;
    const auto treeTooLarge = [&]() {
        return fail(Failure::TooLarge,
                    tr("Das Dokument enthält zu viele Elemente: Sie bräuchten mehr als %1 "
                       "Arbeitsspeicher.")
                        .arg(Statics::sizeText(maxTree)));
    };
    Names names;
    QXmlStreamReader reader(xml);
    std::vector<std::shared_ptr<Data>> open;
    std::shared_ptr<Data> root;
    while (!reader.atEnd()) {
        switch (reader.readNext()) {
        case QXmlStreamReader::StartElement: {
            if (int(open.size()) >= limits.maxDepth)
                return fail(Failure::TooDeep,
                            tr("Die Elemente sind tiefer als %1 Ebenen verschachtelt.")
                                .arg(limits.maxDepth));
            const QXmlStreamAttributes attributes = reader.attributes();
            tree += kElementBytes + attributes.size() * kAttributeBytes;
            for (const QXmlStreamAttribute &attribute : attributes)
                tree += 2 * qint64(attribute.value().size());
            auto data = std::make_shared<Data>();
            data->name = names.take(reader.name(), &tree);
            for (const QXmlStreamAttribute &attribute : attributes)
                data->attributes.insert(
                    names.take(attribute.name(), &tree),
                    QString(attribute.value().constData(), attribute.value().size()));
            if (tree > maxTree)
                return treeTooLarge();
            if (!open.empty()) {
                // The parent's list grows in steps: counted as it grows.
                QVector<XmlNode> &children = open.back()->children;
                const qint64 capacity = children.capacity();
                children.append(XmlNode(data));
                tree += (children.capacity() - capacity) * qint64(sizeof(XmlNode))
                    + (capacity == 0 ? kListBytes : 0);
            } else if (!root)
                root = data;
            open.push_back(std::move(data));
            break;
        }
        case QXmlStreamReader::EndElement:
            if (!open.empty())
                open.pop_back();
            break;
        case QXmlStreamReader::Characters:
            if (!open.empty()) {
                QString &text = open.back()->text;
                if (text.size() + qint64(reader.text().size()) > limits.maxElementChars)
                    return fail(Failure::TooLarge,
                                tr("Das Element \"%1\" ist größer als %2.")
                                    .arg(open.back()->name, Statics::sizeText(limits.maxElementChars)));
                tree += (text.isEmpty() ? kTextBytes : 0) + 2 * qint64(reader.text().size());
                if (tree > maxTree)
                    return treeTooLarge();
                // Most texts come in one piece: copied as they are, they take no spare room
                // (nor keep the reader's buffer alive, as a shared string of it would).
                if (text.isEmpty())
                    text = QString(reader.text().constData(), reader.text().size());
                else
                    text += reader.text();
            }
            break;
        default:
            break;
        }
    }
    if (reader.hasError() || !root)
        return fail(Failure::NotXml,
                    reader.hasError() ? reader.errorString() : QStringLiteral("no element"));
    return XmlNode(root);
}

QString XmlNode::name() const
{
    return d ? d->name : QString();
}

QString XmlNode::text() const
{
    return d ? d->text : QString();
}

QString XmlNode::attribute(const QString &name) const
{
    return d ? d->attributes.value(name) : QString();
}

QVector<XmlNode> XmlNode::children() const
{
    return d ? d->children : QVector<XmlNode>();
}

XmlNode XmlNode::child(const QString &name) const
{
    if (!d)
        return XmlNode();
    for (const XmlNode &node : d->children) {
        if (node.d->name == name)
            return node;
    }
    return XmlNode();
}

XmlNode XmlNode::at(const QString &path) const
{
    // Step by step without copying the steps: reading one listing asks for dozens of paths.
    const XmlNode *node = this;
    for (int from = 0; node->d && from <= path.size();) {
        int end = path.indexOf(QLatin1Char('/'), from);
        if (end < 0)
            end = path.size();
        if (end > from) {
            const QStringRef step = path.midRef(from, end - from);
            const XmlNode *found = nullptr;
            for (const XmlNode &child : node->d->children) {
                if (child.d->name == step) {
                    found = &child;
                    break;
                }
            }
            if (!found)
                return XmlNode();
            node = found;
        }
        from = end + 1;
    }
    return *node;
}

QVector<XmlNode> XmlNode::all(const QString &path) const
{
    QVector<XmlNode> nodes;
    if (!d)
        return nodes;
    nodes.append(*this);
    for (const QStringRef &step : path.splitRef(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        QVector<XmlNode> next;
        for (const XmlNode &node : qAsConst(nodes)) {
            for (const XmlNode &child : node.d->children) {
                if (child.d->name == step)
                    next.append(child);
            }
        }
        nodes.swap(next);
    }
    return nodes;
}

QString XmlNode::value(const QString &path) const
{
    return at(path).text();
}
