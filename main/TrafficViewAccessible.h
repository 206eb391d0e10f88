// SPDX-License-Identifier: MIT
// What screen readers and UI automation see of the traffic display: an editable multi-line
// text box, as Qt's own text boxes are, read-only while a mode runs. Every answer is taken from
// the display's lines without copying the whole text: a day of traffic is many megabytes, and a
// screen reader asks for a line or a word at a time.
#pragma once

#include <QAccessibleWidget>

class TrafficView;
struct TextPosition;

class TrafficViewAccessible : public QAccessibleWidget,
                              public QAccessibleTextInterface,
                              public QAccessibleEditableTextInterface
{
public:
    explicit TrafficViewAccessible(TrafficView *view);

    // For QAccessible::installFactory.
    static QAccessibleInterface *factory(const QString &className, QObject *object);

    void *interface_cast(QAccessible::InterfaceType type) override;
    QAccessible::State state() const override;
    using QAccessibleWidget::text; // the name and description; text(int, int) is the content

    // QAccessibleTextInterface
    void selection(int selectionIndex, int *startOffset, int *endOffset) const override;
    int selectionCount() const override;
    void addSelection(int startOffset, int endOffset) override;
    void removeSelection(int selectionIndex) override;
    void setSelection(int selectionIndex, int startOffset, int endOffset) override;
    int cursorPosition() const override;
    void setCursorPosition(int position) override;
    QString text(int startOffset, int endOffset) const override;
    QString textBeforeOffset(int offset, QAccessible::TextBoundaryType boundaryType,
                             int *startOffset, int *endOffset) const override;
    QString textAfterOffset(int offset, QAccessible::TextBoundaryType boundaryType,
                            int *startOffset, int *endOffset) const override;
    QString textAtOffset(int offset, QAccessible::TextBoundaryType boundaryType, int *startOffset,
                         int *endOffset) const override;
    int characterCount() const override;
    QRect characterRect(int offset) const override;
    int offsetAtPoint(const QPoint &point) const override;
    void scrollToSubstring(int startIndex, int endIndex) override;
    QString attributes(int offset, int *startOffset, int *endOffset) const override;

    // QAccessibleEditableTextInterface: refused while the display is read-only.
    void deleteText(int startOffset, int endOffset) override;
    void insertText(int offset, const QString &text) override;
    void replaceText(int startOffset, int endOffset, const QString &text) override;

    // How far either side of an offset a word or sentence is looked for.
    static constexpr int BoundaryWindow = 2048;

private:
    enum class Side { Before, At, After };
    TrafficView *view() const;
    TextPosition position(int offset) const;
    QString item(Side side, int offset, QAccessible::TextBoundaryType boundaryType,
                 int *startOffset, int *endOffset) const;
    QString lineBoundary(Side side, int offset, int *startOffset, int *endOffset) const;
    QString windowBoundary(Side side, int offset, QAccessible::TextBoundaryType type,
                           int *startOffset, int *endOffset) const;
};
