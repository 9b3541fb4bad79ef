#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// The text of the article column `ItemSpecifics`: one block per item specific,
//   <NameValueList>
//   	<Name><![CDATA[name]]></Name>
//   	<Value><![CDATA[value]]></Value>
//   </NameValueList>
// with one value line per value. The marketplace client puts the text into its listing
// requests as it stands, so names and values go into CDATA sections unescaped; a "]]>" in
// them is split across two sections to keep the text well-formed.
namespace ItemSpecifics {

struct Block
{
    QString name;
    QStringList values;
    bool operator==(const Block &other) const
    {
        return name == other.name && values == other.values;
    }
};

// `text` as the content of CDATA sections: "<![CDATA[" ... "]]>".
QString cdata(const QString &text);
QString write(const QList<Block> &blocks);
// The blocks of a stored text, in order. Reads CDATA sections as they stand (a "</Value>"
// inside one is text) and plain text between the tags as it stands too; blocks without a
// name are kept with an empty name.
QList<Block> read(const QString &text);

} // namespace ItemSpecifics
