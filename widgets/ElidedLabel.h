// SPDX-License-Identifier: MIT
// A one-line panel label that shows as much of its text as its width allows, giving way in the
// middle: the two ends of a device path or a port summary say the most (which adapter, which
// port, the line settings). The whole text is always its tool tip and accessible name, so a
// narrow panel hides nothing from the mouse or from a screen reader.
#pragma once

#include <QLabel>

class ElidedLabel : public QLabel
{
    Q_OBJECT

public:
    explicit ElidedLabel(QWidget *parent = nullptr);

    // Takes the place of QLabel's, so that the tool tip and the name follow the text.
    void setText(const QString &text);
    // Further lines of the tool tip, under the text: an explanation, the file a log goes to.
    void setDetails(const QString &details);
    // The narrowest the label becomes for a text longer than that; 0 (the default) keeps every
    // text whole, for panels whose few short texts fit anywhere.
    void setShortestWidth(int width);

    // The text as drawn at the label's present width.
    QString shownText() const;

    // The whole text; the minimum is the shortest width where the text may be elided.
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void updateToolTip();
    int textRoom() const;

    QString m_details;
    int m_shortest = 0;
};
