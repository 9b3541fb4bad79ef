#pragma once

class QLabel;
class QString;
class QWidget;

// A notice the seller reads before going on (why a list or the categories are missing): a
// yellow box of selectable, word-wrapped plain text. The caller puts it into its layout.
QLabel *createNoticeLabel(QWidget *parent, const QString &objectName);

// A label that shows `text` as it is (names and texts from files, the marketplace or the
// seller): plain before it holds the text, which is never taken for markup.
QLabel *createPlainLabel(const QString &text, QWidget *parent);
