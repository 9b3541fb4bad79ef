#pragma once

#include <QByteArray>
#include <QMap>
#include <QSharedPointer>
#include <QString>
#include <QVector>

// A read-only element tree of an XML document, addressed by local names (namespaces are
// ignored, as the marketplace's replies all live in one). Copies share the tree.
class XmlNode
{
public:
    XmlNode() = default;

    // The document's root element; a null node (and `error`) when the text is not XML.
    static XmlNode parse(const QByteArray &xml, QString *error = nullptr);

    bool isNull() const { return !d; }
    QString name() const;
    // The element's own text (character data and CDATA), without that of its children.
    QString text() const;
    QString attribute(const QString &name) const;
    QVector<XmlNode> children() const;

    // The first child named `name`; a null node when there is none.
    XmlNode child(const QString &name) const;
    // The first element along `path` ("A/B/C", child by child).
    XmlNode at(const QString &path) const;
    // Every element along `path`: each step fans out to all children of that name.
    QVector<XmlNode> all(const QString &path) const;
    // The text of at(path); empty when missing.
    QString value(const QString &path) const;
    bool has(const QString &path) const { return !at(path).isNull(); }

private:
    struct Data
    {
        QString name;
        QString text;
        QMap<QString, QString> attributes;
        QVector<XmlNode> children;
    };
    explicit XmlNode(QSharedPointer<Data> data)
        : d(std::move(data))
    { }

    QSharedPointer<Data> d;
};
