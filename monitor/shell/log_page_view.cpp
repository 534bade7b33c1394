#include "log_page_view.h"

#include "smart/log_lines.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>
#include <climits>

namespace zentrova::shell {

namespace {
constexpr int kMargin = 4;
}

LogPageView::LogPageView(QWidget* parent) : QAbstractScrollArea(parent) {
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setCursor(Qt::IBeamCursor);
    setContextMenuPolicy(Qt::ActionsContextMenu);
    auto* copy = new QAction(tr("Copy"), this);
    connect(copy, &QAction::triggered, this, &LogPageView::CopySelection);
    auto* all = new QAction(tr("Select All"), this);
    connect(all, &QAction::triggered, this, [this] {
        if (lines_ != nullptr)
            SelectLines(0, lines_->LineCount() - 1);
    });
    addActions({copy, all});
}

void LogPageView::SetSource(zentrova::smart::LogLineIndex* lines) {
    lines_ = lines;
    LinesChanged(true);
}

void LogPageView::LinesChanged(bool restarted) {
    QScrollBar* bar = verticalScrollBar();
    const bool atEnd = !restarted && bar->value() > 0 && bar->value() == bar->maximum();
    if (restarted) {
        anchor_ = current_ = -1;
        widest_ = 0;
    }
    UpdateScrollBars();
    if (restarted) {
        bar->setValue(0);
        horizontalScrollBar()->setValue(0);
    } else if (atEnd) {
        bar->setValue(bar->maximum());
    }
    viewport()->update();
}

void LogPageView::SetSelectable(bool selectable) {
    selectable_ = selectable;
    if (!selectable)
        anchor_ = current_ = -1;
    viewport()->setCursor(selectable ? Qt::IBeamCursor : Qt::ArrowCursor);
    for (QAction* action : actions())
        action->setEnabled(selectable);
    viewport()->update();
}

void LogPageView::SelectLines(std::int64_t anchor, std::int64_t current) {
    if (!selectable_ || lines_ == nullptr || lines_->LineCount() == 0)
        return;
    const std::int64_t last = lines_->LineCount() - 1;
    anchor_ = std::clamp<std::int64_t>(anchor, 0, last);
    current_ = std::clamp<std::int64_t>(current, 0, last);
    viewport()->update();
}

QString LogPageView::SelectedText() const {
    if (lines_ == nullptr || anchor_ < 0)
        return {};
    const std::int64_t first = std::min(anchor_, current_);
    const std::int64_t last = std::max(anchor_, current_);
    QString text = lines_->Text(first, last - first + 1);
    if (!text.endsWith(QLatin1Char('\n')))
        text += QLatin1Char('\n');
    return text;
}

void LogPageView::CopySelection() const {
    const QString text = SelectedText();
    if (!text.isEmpty())
        QApplication::clipboard()->setText(text);
}

int LogPageView::LineHeight() const {
    return std::max(1, fontMetrics().lineSpacing());
}

int LogPageView::VisibleLines() const {
    return std::max(1, viewport()->height() / LineHeight());
}

int LogPageView::FirstVisibleLine() const {
    return verticalScrollBar()->value();
}

std::int64_t LogPageView::LineAt(int y) const {
    return std::int64_t{FirstVisibleLine()} + (y < 0 ? -1 : y / LineHeight());
}

void LogPageView::UpdateScrollBars() {
    // A scroll bar counts in int: a log of more than two billion lines
    // shows its first two billion.
    const std::int64_t count = lines_ != nullptr ? lines_->LineCount() : 0;
    const int rows = static_cast<int>(std::min<std::int64_t>(count, INT_MAX));
    QScrollBar* bar = verticalScrollBar();
    bar->setRange(0, std::max(0, rows - VisibleLines()));
    bar->setPageStep(VisibleLines());
    bar->setSingleStep(1);
    QScrollBar* across = horizontalScrollBar();
    across->setRange(0, std::max(0, widest_ + 2 * kMargin - viewport()->width()));
    across->setPageStep(viewport()->width());
    across->setSingleStep(fontMetrics().averageCharWidth());
}

void LogPageView::paintEvent(QPaintEvent*) {
    QPainter painter(viewport());
    const QPalette& colours = palette();
    painter.fillRect(viewport()->rect(), colours.base());
    if (lines_ == nullptr)
        return;
    const int height = LineHeight();
    const int ascent = fontMetrics().ascent();
    const int x = kMargin - horizontalScrollBar()->value();
    const std::int64_t first = FirstVisibleLine();
    const std::int64_t end = std::min(lines_->LineCount(), first + VisibleLines() + 1);
    const std::int64_t selFirst = anchor_ < 0 ? -1 : std::min(anchor_, current_);
    const std::int64_t selLast = anchor_ < 0 ? -2 : std::max(anchor_, current_);
    int widest = widest_;
    for (std::int64_t i = first; i < end; ++i) {
        const int y = static_cast<int>(i - first) * height;
        const QString text = lines_->Line(i);
        const bool selected = i >= selFirst && i <= selLast;
        if (selected)
            painter.fillRect(0, y, viewport()->width(), height, colours.highlight());
        painter.setPen(selected ? colours.highlightedText().color() : colours.text().color());
        painter.drawText(x, y + ascent, text);
        widest = std::max(widest, fontMetrics().horizontalAdvance(text));
    }
    if (widest != widest_) {
        widest_ = widest;
        UpdateScrollBars();
    }
}

void LogPageView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    UpdateScrollBars();
}

void LogPageView::mousePressEvent(QMouseEvent* event) {
    if (!selectable_ || event->button() != Qt::LeftButton || lines_ == nullptr) {
        QAbstractScrollArea::mousePressEvent(event);
        return;
    }
    const std::int64_t line = LineAt(static_cast<int>(event->position().y()));
    const bool extend = (event->modifiers() & Qt::ShiftModifier) && anchor_ >= 0;
    SelectLines(extend ? anchor_ : line, line);
}

void LogPageView::mouseMoveEvent(QMouseEvent* event) {
    if (!selectable_ || !(event->buttons() & Qt::LeftButton) || anchor_ < 0) {
        QAbstractScrollArea::mouseMoveEvent(event);
        return;
    }
    // Dragging past the top or bottom scrolls a line at a time.
    const int y = static_cast<int>(event->position().y());
    QScrollBar* bar = verticalScrollBar();
    if (y < 0)
        bar->setValue(bar->value() - 1);
    else if (y >= viewport()->height())
        bar->setValue(bar->value() + 1);
    SelectLines(anchor_, LineAt(std::clamp(y, -1, viewport()->height())));
}

void LogPageView::keyPressEvent(QKeyEvent* event) {
    if (event == QKeySequence::Copy) {
        CopySelection();
        event->accept();
    } else if (event == QKeySequence::SelectAll) {
        if (lines_ != nullptr)
            SelectLines(0, lines_->LineCount() - 1);
        event->accept();
    } else if (event == QKeySequence::MoveToStartOfDocument) {
        verticalScrollBar()->setValue(0);
    } else if (event == QKeySequence::MoveToEndOfDocument) {
        verticalScrollBar()->setValue(verticalScrollBar()->maximum());
    } else {
        QAbstractScrollArea::keyPressEvent(event);
    }
}

} // namespace zentrova::shell
