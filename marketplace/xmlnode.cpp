#include "marketplace/xmlnode.h"

#include <QXmlStreamReader>

XmlNode XmlNode::parse(const QByteArray &xml, QString *error)
{
    QXmlStreamReader reader(xml);
    QVector<QSharedPointer<Data>> open;
    QSharedPointer<Data> root;
    while (!reader.atEnd()) {
        switch (reader.readNext()) {
        case QXmlStreamReader::StartElement: {
            auto data = QSharedPointer<Data>::create();
            data->name = reader.name().toString();
            for (const QXmlStreamAttribute &attribute : reader.attributes())
                data->attributes.insert(attribute.name().toString(), attribute.value().toString());
            if (!open.isEmpty())
                open.last()->children.append(XmlNode(data));
            else if (!root)
                root = data;
            open.append(data);
            break;
        }
        case QXmlStreamReader::EndElement:
            if (!open.isEmpty())
                open.removeLast();
            break;
        case QXmlStreamReader::Characters:
            if (!open.isEmpty())
                open.last()->text += reader.text();
            break;
        default:
            break;
        }
    }
    if (reader.hasError() || !root) {
        if (error)
            *error = reader.hasError() ? reader.errorString() : QStringLiteral("no element");
        return XmlNode();
    }
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
