#include "mainwindow.h"

#include "applog.h"
#include "capture.h"
#include "capturestore.h"
#include "datafolder.h"
#include "drawingtools.h"
#include "editoroverlays.h"
#include "imagejobs.h"
#include "options.h"
#include "shareaddress.h"
#include "skrin.h"
#include "skrinitem.h"
#include "skrintoolbar.h"
#include "skrinview.h"
#include "tavrinconnector.h"
#include "ui_mainwindow.h"
#include "watcher.h"

#include "database.h"
#include "storestatus.h"

#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QColorDialog>
#include <QCoreApplication>
#include <QCursor>
#include <QDir>
#include <QFontDialog>
#include <QGuiApplication>
#include <QLabel>
#include <QMessageBox>
#include <QScreen>
#include <QThread>
#include <QThreadPool>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <future>
#include <system_error>

namespace {

MainWindow *theWindow = nullptr;

// The newest screenshot, found on a thread of its own where one can be had.
std::future<Id> findNewestScreenshot()
{
    try {
        return std::async(std::launch::async, newestScreenshot);
    } catch (const std::system_error &) {
        return std::async(std::launch::deferred, newestScreenshot);
    }
}

// The screenshot created last at or before `created`, else the oldest one.
Id screenshotNear(const QDateTime &created)
{
    const QList<Id> ids = screenshotsByCreation();
    Id found = ids.value(0, 0);
    for (const Id id : ids) {
        if (getMember(id, QStringLiteral("created")).toDateTime() <= created)
            found = id;
    }
    return found;
}

} // namespace

// Hears screenshots go, whoever removed them.
class MainWindow::SkrinWatcher : public WatcherInterface
{
public:
    explicit SkrinWatcher(MainWindow *owner)
        : window(owner)
    {
        // Only removals matter: the screenshots there are now need not be
        // listed (every one of a large library, at each start).
        watchQuietly({{QStringLiteral("type"), QStringLiteral("skrin")}});
    }

    void onMinus(Id id) override { window->onSkrinRemoved(id); }

private:
    MainWindow *window;
};

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
    , ui(std::make_unique<Ui::MainWindow>())
{
    // Found beside the building of the widgets, which need no stored rows.
    std::future<Id> newest = findNewestScreenshot();
    ui->setupUi(this);
    addToolActions();
    fitIntoScreen();
    theWindow = this;
    // Registered before the panels are built: the tool bar's menus take the
    // window's own actions.
    registerInstance(this);
    overlays = new EditorOverlays(ui->skrinView, ui->actionGetInfo);
    if (TavrinConnector *connector = TavrinConnector::instance())
        connect(connector, &TavrinConnector::commitSignal, overlays, &EditorOverlays::checkTooBig);
    connectActions();
    // A failing disk is told at once, over the editor, and stays told
    // until a write succeeds again: quitting meanwhile would lose changes.
    writeFailureBar = new QLabel(ui->centralWidget);
    writeFailureBar->setObjectName(QStringLiteral("writeFailureBar"));
    writeFailureBar->setWordWrap(true);
    writeFailureBar->setMargin(8);
    writeFailureBar->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Maximum);
    writeFailureBar->setStyleSheet(QStringLiteral("background: #f6d365; color: #3a2a00;"));
    ui->centralLayout->insertWidget(0, writeFailureBar);
    StoreStatus *status = StoreStatus::instance();
    connect(status, &StoreStatus::writeFailureChanged, this, &MainWindow::showWriteFailure);
    showWriteFailure(status->writeFailure());
    // Queued also when found before: the window is whole by then.
    connect(status, &StoreStatus::damageFound, this, &MainWindow::refuseDamagedStore, Qt::QueuedConnection);
    if (!status->damage().isEmpty())
        QTimer::singleShot(0, this, [this] { refuseDamagedStore(StoreStatus::instance()->damage()); });
    skrinWatcher = std::make_unique<SkrinWatcher>(this);
    // Screenshots marked changed get their picture and thumbnails rendered
    // in the background from now on.
    startThumbnailTimer();
    // A quit that bypasses the window (the session ending) still writes the
    // store.
    connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, this, [this] {
        if (!closed) {
            closed = true;
            cancelCapture();
            shutDownEngine();
        }
    });
    openSkrin(newest.get());
}

MainWindow::~MainWindow()
{
    openSkrin(0);
    if (theWindow == this)
        theWindow = nullptr;
}

MainWindow *MainWindow::instance()
{
    return theWindow;
}

QAction *MainWindow::actionByName(const QString &name)
{
    if (!theWindow)
        return nullptr;
    const Ui::MainWindow &form = *theWindow->ui;
    if (name == QLatin1String("pickColor"))
        return form.actionPickColor;
    if (name == QLatin1String("changeFont"))
        return form.actionChangeFont;
    return theWindow->toolActions.value(name);
}

// The Draw menu offers every drawing tool; the tool bar's Shapes menu takes
// those without a button of their own from here.
void MainWindow::addToolActions()
{
    for (const DrawingTool &tool : drawingTools()) {
        if (!tool.action)
            continue;
        const QString name = QString::fromLatin1(tool.action);
        auto *action = new QAction(QCoreApplication::translate("MainWindow", tool.menuText), this);
        action->setObjectName(QStringLiteral("action") + name.left(1).toUpper() + name.mid(1));
        ui->menuDraw->addAction(action);
        toolActions.insert(name, action);
        connect(action, &QAction::triggered, this, [this, chosen = tool.tool] { setSkrinTool(chosen); });
    }
}

SkrinView *MainWindow::skrinView() const
{
    return ui->skrinView;
}

void MainWindow::connectActions()
{
    connect(ui->actionCapture, &QAction::triggered, this, &MainWindow::startCapture);
    connect(ui->actionDeleteFile, &QAction::triggered, this, &MainWindow::askDeleteFile);
    connect(ui->actionQuit, &QAction::triggered, this, &MainWindow::close);
    connect(ui->actionNextSkrin, &QAction::triggered, this, [this] { openNeighbour(1); });
    connect(ui->actionPrevSkrin, &QAction::triggered, this, [this] { openNeighbour(-1); });
    connect(ui->actionPickColor, &QAction::triggered, this, &MainWindow::pickColor);
    connect(ui->actionChangeFont, &QAction::triggered, this, &MainWindow::changeFont);
    // The paste tools act at once and leave the selection tool current. The
    // platform's Paste key stays with a text being edited: its editor takes
    // the key before the window's shortcut sees it.
    ui->actionPaste->setShortcuts(QKeySequence::Paste);
    const QList<std::pair<QAction *, int>> tools{
        {ui->actionPaste, Skrin::ToolPasteClipboard},
        {ui->actionPasteFile, Skrin::ToolPasteFile},
        {ui->actionPasteCapture, Skrin::ToolPasteCapture},
    };
    for (const auto &[action, tool] : tools)
        connect(action, &QAction::triggered, this, [this, tool = tool] { setSkrinTool(tool); });
    // Queued, as deleting the screenshot deletes the scene that saw the key.
    connect(ui->skrinView, &SkrinView::delKey, this, &MainWindow::onDelKey, Qt::QueuedConnection);
    connectEditActions();
}

// The edit operations on the open screenshot's selection.
void MainWindow::connectEditActions()
{
    const QList<std::pair<QAction *, void (Skrin::*)()>> operations{
        {ui->actionRemoveSkrinItem, &Skrin::removeSelected},
        {ui->actionDuplicateSkrinItem, &Skrin::duplicateSelected},
        {ui->actionMoveUpwards, &Skrin::moveSelectionUp},
        {ui->actionMoveBackwards, &Skrin::moveSelectionDown},
        {ui->actionChangeText, &Skrin::toggleTextEdit},
        {ui->actionImageCrop, &Skrin::setImageCropMode},
        {ui->actionImageResize, &Skrin::setImageResizeMode},
        {ui->actionImageCropResize, &Skrin::toggleImageMode},
        {ui->actionImageReset, &Skrin::resetImageCrop},
    };
    for (const auto &[action, operation] : operations) {
        // GCC's vptr check misreads a call through a member pointer in a
        // lambda of a polymorphic class (it reads beside the closure and
        // reports a stack-buffer-underflow); the call is sound, so the check
        // is left out here alone.
        const auto call = [this, operation = operation]() __attribute__((no_sanitize("vptr"))) {
            if (scene)
                (scene->*operation)();
        };
        connect(action, &QAction::triggered, this, call);
    }
}

void MainWindow::fitIntoScreen()
{
    const QScreen *shownOn = screen();
    if (!shownOn)
        return;
    const QRect area = shownOn->availableGeometry();
    // A tenth of the free area is left to the window manager's frame and
    // title bar, whose size is not known before the window is shown.
    const QSize room = (QSizeF(area.size()) * 0.9).toSize();
    resize(size().boundedTo(room).expandedTo(minimumSizeHint()));
    move(area.center() - QPoint(width() / 2, height() / 2));
}

Id MainWindow::currentSkrinId() const
{
    return scene ? scene->id() : 0;
}

void MainWindow::openSkrin(Id id)
{
    // The screenshot being left gets its picture rendered now rather than at
    // the next tick, and what changed goes to the service with it. The scene
    // goes first: its last change, recorded as it closes, must be in what
    // the renderer claims, or the render is thrown away.
    const Id left = scene && scene->id() != id && !closed ? scene->id() : 0;
    if (scene) {
        ui->skrinView->setScene(nullptr);
        delete scene;
        scene = nullptr;
    }
    if (left != 0)
        startThumbnailer(left, true);
    for (QAction *action : {ui->actionDeleteFile, ui->actionPaste, ui->actionPasteFile, ui->actionPasteCapture})
        action->setEnabled(id != 0);
    if (id == 0) {
        overlays->showSkrin(0);
        return;
    }
    scene = new Skrin(id);
    openCreated = getMember(id, QStringLiteral("created")).toDateTime();
    connect(scene, &Skrin::toolChanged, this, &MainWindow::updateToolBarFromSelection);
    connect(scene, &QGraphicsScene::selectionChanged, this, &MainWindow::updateToolBarFromSelection);
    connect(scene, &Skrin::imageToolChanged, this, &MainWindow::onSkrinImageToolChanged);
    // A right click with a tool opens the edit menu where it was made.
    connect(scene, &Skrin::showEditOptions, this, [this] { ui->menuEdit->popup(QCursor::pos()); });
    connect(scene, &Skrin::toolChanged, overlays, &EditorOverlays::toolChanged);
    connect(scene, &QGraphicsScene::sceneRectChanged, overlays, &EditorOverlays::place);
    // Queued: the scene sends these from its own key handling, and opening
    // another screenshot deletes it.
    connect(scene, &Skrin::nextAction, this, [this] { openNeighbour(1); }, Qt::QueuedConnection);
    connect(scene, &Skrin::prevAction, this, [this] { openNeighbour(-1); }, Qt::QueuedConnection);
    ui->skrinView->setScene(scene);
    ui->skrinView->setFocus(Qt::OtherFocusReason);
    overlays->showSkrin(id);
    updateToolBarFromSelection();
}

void MainWindow::onSkrinRemoved(Id id)
{
    if (id == 0 || id != currentSkrinId())
        return;
    // Later: the store is telling every watcher, the open scene included.
    QTimer::singleShot(0, this, [this, id] {
        if (id == currentSkrinId())
            openSkrin(screenshotNear(openCreated));
    });
}

void MainWindow::openNeighbour(int step)
{
    const Id next = neighbourScreenshot(currentSkrinId(), step);
    if (next != 0)
        openSkrin(next);
}

void MainWindow::setSkrinTool(int tool)
{
    if (!scene)
        return;
    scene->setTool(tool);
    updateToolBarFromSelection();
}

void MainWindow::toggleEditMode()
{
    if (!scene)
        return;
    setSkrinTool(scene->tool() == Skrin::ToolSelect ? Skrin::ToolNone : Skrin::ToolSelect);
}

void MainWindow::toggleImageCropResize()
{
    if (scene)
        scene->toggleImageMode();
}

// Pen options go to the selection and to the current tool, so that what is
// drawn next takes them.
void MainWindow::applyPenSize(double size)
{
    if (!scene || !std::isfinite(size) || size < 0.0)
        return;
    scene->applyPenOptions(&size, nullptr, nullptr);
    overlays->toolBar()->setPenSize(size);
}

void MainWindow::applyColor(const QColor &color)
{
    if (!scene || !color.isValid())
        return;
    scene->applyPenOptions(nullptr, &color, nullptr);
    overlays->toolBar()->setColor(color);
}

void MainWindow::applyFontSize(double size)
{
    if (!scene || !std::isfinite(size))
        return;
    QFont font = scene->currentFont();
    font.setPointSize(std::clamp(int(size), 1, 1000));
    applyFont(font);
}

void MainWindow::applyFont(const QFont &font)
{
    if (!scene)
        return;
    scene->applyPenOptions(nullptr, nullptr, &font);
    overlays->toolBar()->setToolFont(font);
}

void MainWindow::updateToolBarFromSelection()
{
    if (!scene)
        return;
    overlays->updateToolBar(scene);
    ui->actionImageReset->setVisible(toolHasOption(scene->optionsTool(), CropOption));
}

void MainWindow::onSkrinImageToolChanged(int mode)
{
    overlays->imageToolChanged(mode);
}

void MainWindow::setDragSkrinUsed(bool used)
{
    Q_UNUSED(used) // no screenshot browser
}

void MainWindow::selectCurrentInExplorer()
{
    // No screenshot browser.
}

void MainWindow::pickColor()
{
    if (!scene)
        return;
    // Qt's dialog has its own screen colour picker.
    const QColor color = QColorDialog::getColor(scene->currentToolOptions().color, this, tr("Pick colour"));
    if (color.isValid())
        applyColor(color);
}

void MainWindow::changeFont()
{
    if (!scene)
        return;
    bool accepted = false;
    const QFont font = QFontDialog::getFont(&accepted, scene->currentFont(), this, tr("Change font"));
    if (accepted)
        applyFont(font);
}

void MainWindow::showWriteFailure(const QString &failure)
{
    writeFailureBar->setVisible(!failure.isEmpty());
    if (failure.isEmpty())
        return;
    writeFailureBar->setText(tr("Your changes cannot be saved in %1: %2\nThey are kept while Pellimore runs and "
                                "are saved as soon as they can be. Free some disk space or make the folder "
                                "writable, and do not quit until this message is gone.")
                                 .arg(QDir::toNativeSeparators(Database::dataFolder()), failure));
}

void MainWindow::refuseDamagedStore(const QString &damage)
{
    if (closed)
        return;
    closed = true;
    cancelCapture();
    const QString folder = Database::dataFolder();
    hide();
    // The store refuses every write to a damaged file, the last one too.
    shutDownEngine();
    tellDataUnusable(folder, damage);
    QCoreApplication::exit(1);
}

void MainWindow::startCapture()
{
    if (!shootPrecise(this, &MainWindow::onShoot, false))
        qCInfo(lcApp) << "a capture is running already";
}

void MainWindow::onShoot(const QPixmap &pixmap)
{
    if (closed || pixmap.isNull())
        return;
    const Id id = storeCapture(pixmap.toImage(), Options::ext(), Options::quality());
    if (id == 0) {
        QMessageBox::warning(this, tr("Pellimore"), tr("The screenshot could not be stored."));
        return;
    }
    // No address without the service's options: the clipboard is left alone,
    // and the prompt does not claim otherwise.
    const QString url = shareUrl(id, getMember(id, QStringLiteral("handle")).toString());
    if (!url.isEmpty())
        QGuiApplication::clipboard()->setText(url);
    const bool urlCopied = !url.isEmpty() && QGuiApplication::clipboard()->text() == url;
    requestCommit();
    openSkrin(id);
    startThumbnailer(id, false);
    overlays->askTitle(id, urlCopied);
    raise();
    activateWindow();
}

void MainWindow::onDelKey()
{
    // In the drawing tools the scene removes its selection on the same key.
    if (scene && scene->tool() == Skrin::ToolNone)
        ui->actionDeleteFile->trigger();
}

void MainWindow::askDeleteFile()
{
    if (!scene)
        return;
    const QMessageBox::StandardButton answer =
        QMessageBox::question(this, tr("Delete file"), tr("Delete this screenshot for good?"),
                              QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    if (answer == QMessageBox::Yes)
        deleteCurrentSkrin();
}

void MainWindow::deleteCurrentSkrin()
{
    const Id current = currentSkrinId();
    if (current == 0)
        return;
    Id next = neighbourScreenshot(current, -1);
    if (next == 0)
        next = neighbourScreenshot(current, 1);
    openSkrin(0);
    removeItemTree(current);
    requestCommit();
    openSkrin(next);
}

void MainWindow::quitOnRequest()
{
    // The code that opened a dialog or a menu may belong to the screenshot
    // the quit closes, and runs on once the dialog's loop returns: so those
    // are closed, and the quit waits until no loop of theirs runs.
    if (QThread::currentThread()->loopLevel() > 1) {
        for (int round = 0; round < 16; ++round) {
            QWidget *open = QApplication::activePopupWidget();
            if (!open)
                open = QApplication::activeModalWidget();
            if (!open)
                break;
            if (auto *dialog = qobject_cast<QDialog *>(open))
                dialog->reject();
            else
                open->close();
        }
        QTimer::singleShot(50, this, &MainWindow::quitOnRequest);
        return;
    }
    close();
}

bool MainWindow::shutDownEngine()
{
    openSkrin(0);
    // No commit may start while the store is written for the last time; the
    // pool's jobs (a capture being encoded) finish first.
    TavrinConnector::stopSync();
    QThreadPool::globalInstance()->waitForDone();
    const bool written = Database::flush();
    shutdownBackground();
    return written;
}

void MainWindow::changeEvent(QEvent *event)
{
    // Leaving the window: whatever was drawn is rendered and sent now.
    if (event->type() == QEvent::ActivationChange && !isActiveWindow() && !closed && currentSkrinId() != 0)
        startThumbnailer(currentSkrinId(), true);
    QMainWindow::changeEvent(event);
}

void MainWindow::paintEvent(QPaintEvent *event)
{
    QMainWindow::paintEvent(event);
    if (painted)
        return;
    painted = true;
    // Queued: the rest of this first frame is painted and shown before.
    QTimer::singleShot(0, this, &MainWindow::firstPainted);
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    if (closed) {
        event->accept();
        return;
    }
    closed = true;
    cancelCapture();
    const QString folder = Database::dataFolder();
    const bool written = shutDownEngine();
    event->accept();
    if (!written) {
        qCWarning(lcApp) << "the store could not be written at exit";
        QMessageBox::critical(this, tr("Pellimore"),
                              tr("Your latest changes could not be saved in %1. Check that the folder is "
                                 "writable and that the disk is not full.")
                                  .arg(folder));
    }
    QCoreApplication::exit(written ? 0 : 1);
}
