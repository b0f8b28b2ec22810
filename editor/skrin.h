#pragma once

// The scene of one open screenshot: one annotation item per stored row whose
// parent is the screenshot, the current tool with per-tool options, pins kept
// above the picture, the changed mark recorded at most every 500 ms, and the
// background (side strip, shadow, and in view mode the rendered picture).
// The mouse draws new rows (skrininput.cpp), the edit operations work on the
// selection (skrinediting.cpp), pictures are pasted (skrinpictures.cpp) and
// dropped screenshots and files arrive (skrindrop.cpp). The scene never
// builds an item itself: it writes complete rows and builds items as the rows
// arrive. GUI thread only.

#include "annotationkinds.h"
#include "customscene.h"
#include "item.h"
#include "skrinhost.h"
#include "skrintooloptions.h"

#include <QFont>
#include <QMap>
#include <QPixmap>
#include <QSet>

#include <memory>
#include <vector>

class ItemCopier;

class QTimer;
class SkrinItem;

class Skrin : public CustomScene, public Item, public SkrinHost
{
    Q_OBJECT
public:
    // Tool ids shared with the tool bar and the main window.
    using enum SkrinTool;
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

    // Edit operations on the selected annotations; each writes rows and the
    // items follow them.
    void removeSelected();
    // Copies 10 units right and below, on top; the copies become the selection.
    void duplicateSelected();
    // Moves the selection as one block above (below) everything else.
    void moveSelectionUp();
    void moveSelectionDown();
    void moveSelectionZ(bool up);
    // Starts or ends editing the one selected text.
    void toggleTextEdit();
    // Each value that is given goes to the current drawing tool and to the
    // selected annotations that have it (the font to kinds with a font
    // option). Sizes are as the screen shows them (see below).
    void applyPenOptions(const double *penSize, const QColor *color, const QFont *font);
    // The selected annotation's font as shown, else the scene's.
    QFont currentFont() const;
    // Pen sizes and fonts the user chooses (the tools' options, the tool
    // bar) are sizes on the screen, so that a denser screen shows what a 1x
    // one does; rows keep picture pixels.
    double penSizeOnScreen(const SkrinItem *item) const;
    // A text row's font as shown, in whole points.
    QFont fontOnScreen(Id id) const;
    void writeFont(Id id, const QFont &font);
    static QFont readFont(Id id);
    // The tool that draws the annotation, 0 when it is not on this scene.
    int toolForItem(Id id) const;
    // The tool whose options apply: the selected annotation's, else the current one.
    int optionsTool() const;

    // Pasted pictures: a new image row in the middle of the view, on top and
    // selected. The id of the row, or 0 (with a log line, or `error` filled
    // in) when nothing could be pasted. An empty suffix takes the configured
    // extension.
    Id addImage(const QPixmap &picture, const QString &suffix);
    Id addImageFile(const QString &path, QString *error = nullptr);
    // Handle modes of the one selected picture (1 crop, 2 resize).
    void setImageMode(int mode);
    void setImageCropMode() { setImageMode(1); }
    void setImageResizeMode() { setImageMode(2); }
    void toggleImageMode();
    void resetImageCrop();

    // Drops on the view: screenshots dragged as "skrins://" addresses arrive
    // as copies of their rows, files as pictures. Only drops with addresses
    // whose source offers a copy are taken, and always as a copy.
    void viewDragEnterEvent(QDragEnterEvent *event) override;
    void viewDragMoveEvent(QDragMoveEvent *event) override;
    void viewDropEvent(QDropEvent *event) override;

    // SkrinHost
    QGraphicsScene *hostScene() override { return this; }
    QGraphicsView *view() const override;
    void notifyTextEditChanged(bool editing) override;
    void notifyImageToolChanged(SkrinItem *item, int mode) override;
    void removeLater(SkrinItem *item) override;

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

private slots:
    void onShoot(const QPixmap &picture);

private:
    // onItemPlus for an item known to be a row of `table`.
    void addItemOfTable(Id id, const QString &table);

protected:
    void contextMenuEvent(QGraphicsSceneContextMenuEvent *event) override;
    void dragEnterEvent(QGraphicsSceneDragDropEvent *event) override;
    void dragMoveEvent(QGraphicsSceneDragDropEvent *event) override;
    void dropEvent(QGraphicsSceneDragDropEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void mousePressEvent(QGraphicsSceneMouseEvent *event) override;
    void mouseMoveEvent(QGraphicsSceneMouseEvent *event) override;
    void mouseReleaseEvent(QGraphicsSceneMouseEvent *event) override;
    void mouseDoubleClickEvent(QGraphicsSceneMouseEvent *event) override;
    void drawBackground(QPainter *painter, const QRectF &rect) override;

    void init() override;
    void set(const QString &member, const QVariant &value) override;
    void remove() override;

private:
    class TableWatcher;

    // Screen sizes (see penSizeOnScreen) to picture pixels and back.
    double viewPixelWidth() const; // picture pixels per screen pixel
    // The picture pixel under a point of the view, the origin without one.
    QPointF pixelAtViewPoint(const QPoint &point) const;
    double penSizeInPicture(double onScreen) const { return onScreen * viewPixelWidth(); }
    QFont fontInPicture(const QFont &onScreen) const;
    SkrinToolOptions currentToolOptionsInPicture();

    void watchItems(const QString &table);
    QGraphicsItem *itemUnder(const QPointF &scenePos) const;
    bool isPictureItemUnder(const QPointF &scenePos) const;
    void startDrawing(const QPointF &scenePos);
    void endDrawingBy(QGraphicsSceneMouseEvent *event);
    bool drawDragged(const QPointF &scenePos);
    // One step of a left drag: the line or shape due is made, or the item
    // drawn follows the pointer. True when this step made the item.
    bool dragDrawingTo(const QPointF &scenePos);
    static bool isDraggedShapeTool(int tool);
    // Members in the order written; "parent" follows them.
    using Members = QList<std::pair<QString, QVariant>>;
    Id createRow(const QString &table, const Members &members, bool selectWhenBuilt = false,
                 bool colourAsName = true);
    // The copy of the copier's source `row`, placed anew; it ends selected.
    Id copyRow(const ItemCopier &copier, qsizetype row, const Members &placement);
    void pasteFile();
    void pasteClipboard();
    // One message box, not waited for, with every reason a picture was refused.
    void tellNotPasted(const QString &title, const QStringList &reasons);
    void copyDroppedSkrin(Id source, const QPointF &dropPoint);
    void afterDrop();
    void recordModified();
    // Removes the rows that items asked to have removed.
    void removeLeaving();
    void removeRows(const QList<Id> &ids);
    QRectF pictureRect(bool *found) const;
    void drawShadow(QPainter *painter, const QRectF &picture) const;

    QMap<Id, SkrinItem *> skrinItems;
    QMap<int, SkrinToolOptions> toolOptions;
    int currentTool = ToolNone;
    Id drawnItemId = 0;
    QSet<Id> pendingSelection;
    QSet<Id> leaving; // rows to remove once the event at hand is over
    bool selectArrivals = false; // copies arriving now end shown and selected
    int pinCount = 0; // items of skrinItems that are not part of the picture
    bool modified = false;
    bool skipContextMenu = false; // a right press ended drawing
    bool dropRefused = false; // the view's drop now being handled took nothing
    bool creating = false; // a line or shape drag is pending
    QPointF pressPos;
    bool loadingRows = false; // the constructor replays the existing rows
    bool itemsVisible = false;
    bool repaintArmed = true;
    QPixmap pictureCache;
    QTimer *modifiedTimer = nullptr;
    std::vector<std::unique_ptr<TableWatcher>> tableWatchers;
};
