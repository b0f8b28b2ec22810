#pragma once

// The scene of one open screenshot: one annotation item per stored row whose
// parent is the screenshot, the current tool with per-tool options, pins kept
// above the picture, the changed mark recorded at most every 500 ms, and the
// background (side strip, shadow, and in view mode the rendered picture).
// GUI thread only.

#include "customscene.h"
#include "item.h"
#include "skrinhost.h"
#include "skrintooloptions.h"

#include <QMap>
#include <QPixmap>
#include <QSet>

#include <memory>
#include <vector>

class QTimer;
class SkrinItem;

class Skrin : public CustomScene, public Item, public SkrinHost
{
    Q_OBJECT
public:
    // Tool ids shared with the tool bar and the main window.
    enum Tool {
        ToolNone = 0,
        ToolBlur = 1,
        ToolMarker = 2,
        ToolSelect = 3,
        ToolText = 4,
        ToolPen = 5,
        ToolArrow = 6,
        ToolLine = 7,
        ToolEllipse = 8,
        ToolEllipseFrame = 9,
        ToolRectangle = 10,
        ToolRectangleFrame = 11,
        ToolPasteFile = 12,
        ToolPasteClipboard = 13,
        ToolPasteCapture = 14,
        ToolPin = 15,
        ToolImage = 16,
    };
    static constexpr int modifiedCheckMs = 500;
    static constexpr int repaintDelayMs = 10;

    explicit Skrin(Id skrin);
    ~Skrin() override;

    // The screenshot row is never removed through its scene.
    using QGraphicsScene::removeItem;

    int tool() const { return currentTool; }
    void setTool(int tool);

    bool isModified() const { return modified; }
    void setModified() override { modified = true; }
    void clearModified() { modified = false; }

    static QString tableForTool(int tool);
    static int toolForTable(const QString &table);
    static QStringList itemTables();

    SkrinToolOptions &currentToolOptions();
    SkrinToolOptions &toolOptionsOf(int tool);

    // The one selected graphics item when it is an annotation, else null.
    SkrinItem *selectedItem() const;
    SkrinItem *skrinItem(Id id) const { return skrinItems.value(id); }
    const QMap<Id, SkrinItem *> &annotationItems() const { return skrinItems; }

    double maxZ() const;
    void normaliseZ();

    bool areItemsVisible() const { return itemsVisible; }
    void setItemsVisible(bool visible);

    // Rows that are to appear shown and selected once their item is built.
    void addPendingSelection(Id id) { pendingSelection.insert(id); }
    // The row the current mouse gesture creates (0 for none).
    void setDrawnItemId(Id id) { drawnItemId = id; }
    Id drawnItem() const { return drawnItemId; }

    // SkrinHost
    QGraphicsScene *hostScene() override { return this; }
    QGraphicsView *view() const override;
    void notifyTextEditChanged(bool editing) override;
    void notifyImageToolChanged(SkrinItem *item, int mode) override;

signals:
    void toolChanged(int tool);
    void showEditOptions(bool show);
    void imageToolChanged(int mode);
    void textEditChanged(bool editing);
    void nextAction();
    void prevAction();

public slots:
    void updateGood();
    void updateGood2();
    void checkIsModified();
    void onItemPlus(Id id);
    void onItemMinus(Id id);
    void skrinSelectionChanged();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void drawBackground(QPainter *painter, const QRectF &rect) override;

    void init() override;
    void set(const QString &member, const QVariant &value) override;
    void remove() override;

private:
    class TableWatcher;

    void watchItems(const QString &table);
    void recordModified();
    double viewPixelWidth() const;
    QRectF pictureRect(bool *found) const;
    void drawShadow(QPainter *painter, const QRectF &picture) const;

    QMap<Id, SkrinItem *> skrinItems;
    QMap<int, SkrinToolOptions> toolOptions;
    int currentTool = ToolNone;
    Id drawnItemId = 0;
    QSet<Id> pendingSelection;
    bool modified = false;
    bool creating = false; // a line or shape drag is pending
    bool loadingRows = false; // the constructor replays the existing rows
    bool itemsVisible = false;
    bool repaintArmed = true;
    QPixmap pictureCache;
    QTimer *modifiedTimer = nullptr;
    std::vector<std::unique_ptr<TableWatcher>> tableWatchers;
};
