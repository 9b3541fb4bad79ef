#pragma once

class QLabel;
class QString;
class QWidget;

// A notice the seller reads before going on (why a list or the categories are missing): a
// yellow box of selectable, word-wrapped plain text. The caller puts it into its layout.
QLabel *createNoticeLabel(QWidget *parent, const QString &objectName);
