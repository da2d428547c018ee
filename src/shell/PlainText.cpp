#include "shell/PlainText.h"

#include <QLabel>
#include <QTextDocument>

QLabel* plainLabel(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setText(text);
    return label;
}

QString plainToolTip(const QString& text)
{
    // "<p>...</p>": rich text by Qt's own guess, whatever the text holds.
    return Qt::convertFromPlainText(text, Qt::WhiteSpaceNormal);
}

QString plainWindowTitle(const QString& text)
{
    // "[*][*]" is Qt's spelling of a "[*]" that stays.
    QString title = text;
    return title.replace(QLatin1String("[*]"), QLatin1String("[*][*]"));
}
