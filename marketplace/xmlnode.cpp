#include "marketplace/xmlnode.h"

#include "core/statics.h"

#include <QCoreApplication>
#include <QXmlStreamReader>

#include <vector>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("XmlNode", text);
}


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
            auto data = std::make_shared<Data>();
            data->name = reader.name().toString();
            for (const QXmlStreamAttribute &attribute : reader.attributes())
                data->attributes.insert(attribute.name().toString(), attribute.value().toString());
            if (!open.empty())
                open.back()->children.append(XmlNode(data));
            else if (!root)
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
    XmlNode node = *this;
    for (const QStringRef &step : path.splitRef(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        node = node.child(step.toString());
        if (node.isNull())
            break;
    }
    return node;
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
