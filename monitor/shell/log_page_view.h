// The log page's view: paints only the lines on screen, asking a
// LogLineIndex for each, so a log of any size costs the same to show.
// Whole lines are selected with the mouse (Shift extends) and copied with
// the platform's Copy key.
#pragma once

#include <QAbstractScrollArea>

#include <cstdint>

namespace zentrova::smart {
class LogLineIndex;
}

namespace zentrova::shell {

class LogPageView : public QAbstractScrollArea {
    Q_OBJECT

  public:
    explicit LogPageView(QWidget* parent = nullptr);

    void SetSource(zentrova::smart::LogLineIndex* lines);
    // The source gained lines, or was rebuilt (`restarted`: back to the first
    // line, selection dropped). A view scrolled to the end follows new lines.
    void LinesChanged(bool restarted);
    void SetSelectable(bool selectable);
    bool Selectable() const { return selectable_; }
    // The selected lines' text, each ending in "\n"; empty without a selection.
    QString SelectedText() const;
    void SelectLines(std::int64_t anchor, std::int64_t current);
    void CopySelection() const;
    int FirstVisibleLine() const;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    int LineHeight() const;
    int VisibleLines() const;
    std::int64_t LineAt(int y) const;
    void UpdateScrollBars();

    zentrova::smart::LogLineIndex* lines_ = nullptr;
    bool selectable_ = true;
    std::int64_t anchor_ = -1; // selection: the lines from anchor_ to current_
    std::int64_t current_ = -1;
    int widest_ = 0; // widest line painted so far, for the horizontal scroll bar
};

} // namespace zentrova::shell
