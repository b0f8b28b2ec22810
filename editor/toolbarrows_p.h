#pragma once

// The tool bar's buttons in rows: all in one row (tools, divider, options)
// where that fits the width given, else as many buttons a row as fit, the
// options on rows above the tools and no divider. Rows start at the left and
// the bar stands on its bottom edge, so a tool keeps its place when options
// come and go beside or above it.

#include <QLayout>
#include <QWidget>

class ToolBarRows : public QLayout
{
public:
    enum Role { Tool, Divider, Option };

    explicit ToolBarRows(int spacing);
    ~ToolBarRows() override;

    void addWidget(QWidget *widget, Role role);
    // The most the rows may take across; the widest button always gets a row.
    // Returns whether the limit changed.
    bool setWidthLimit(int width);
    // Whether the shown buttons fit in one row, divider included.
    bool fitsOneRow() const;
    // The rows' size within `width` with every button shown.
    QSize sizeWithEveryButton(int width) const;

    void addItem(QLayoutItem *item) override;
    int count() const override;
    QLayoutItem *itemAt(int index) const override;
    QLayoutItem *takeAt(int index) override;
    QSize sizeHint() const override;
    QSize minimumSize() const override;
    QSize maximumSize() const override;
    Qt::Orientations expandingDirections() const override;
    void setGeometry(const QRect &rect) override;

private:
    struct Entry
    {
        QLayoutItem *item;
        Role role;
    };
    using Row = QList<QLayoutItem *>;
    QList<Row> rows(int width, bool everyButton, QSize *size) const;
    QSize rowSize(const Row &row) const;

    QList<Entry> entries;
    int limit = QWIDGETSIZE_MAX;
};
