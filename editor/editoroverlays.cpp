#include "editoroverlays.h"

#include "dirtyskrins.h"
#include "drawingtools.h"
#include "infobar.h"
#include "infotoobig.h"
#include "skrin.h"
#include "skrindone.h"
#include "skrinimage.h"
#include "skrinitem.h"
#include "skrintoolbar.h"
#include "skrinview.h"
#include "watcher.h"

#include <QAction>
#include <QStyle>

// Hears the open screenshot's title change and its removal, from anyone.
class EditorOverlays::TitleWatch : public WatcherInterface
{
public:
    TitleWatch(Id skrin, std::function<void()> changed)
        : changed(std::move(changed))
    {
        watch(WatchFilter{{QStringLiteral("id"), skrin}});
    }
    void onSet(const QString &member, const QVariant &) override
    {
        if (member == QLatin1String("title"))
            changed();
    }
    void onRemove() override { changed(); }

private:
    std::function<void()> changed;
};

EditorOverlays::EditorOverlays(SkrinView *skrinView, QAction *getInfo)
    : QObject(skrinView)
    , view(skrinView)
    , done(new SkrinDone(skrinView))
    , info(new InfoBar(skrinView))
    , bar(new SkrinToolBar(skrinView))
    , tooBig(new InfoTooBig(skrinView))
{
    info->move(20, 20);
    // Never so small that a button of the bar is out of reach, scroll bars
    // shown or not.
    const int scrollBar = view->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, view);
    view->setMinimumSize(view->minimumSize().expandedTo(bar->leastRoom() + QSize(scrollBar, scrollBar)));
    place();
    const auto updateOpacity = [this] {
        info->updateOpacity();
        bar->updateOpacity();
    };
    connect(view, &SkrinView::mouseMoved, this, updateOpacity);
    connect(view, &SkrinView::enterEventSignal, this, updateOpacity);
    connect(view, &SkrinView::leaveEventSignal, this, updateOpacity);
    connect(view, &SkrinView::resized, this, &EditorOverlays::place);
    connect(view, &SkrinView::mousePressed, this, [this] {
        if (done->isVisible())
            done->save();
    });
    connect(done, &SkrinDone::hideEventSignal, this, [this] { view->setFocus(Qt::OtherFocusReason); });
    if (getInfo)
        connect(info, &InfoBar::clicked, getInfo, &QAction::trigger);
}

EditorOverlays::~EditorOverlays() = default;

void EditorOverlays::showSkrin(Id id)
{
    // A title typed for the screenshot being left goes with it, as a click
    // into the view would have kept it.
    if (done->isVisible())
        done->save();
    skrin = id;
    tool = 0;
    titleWatch.reset();
    if (id != 0) {
        titleWatch = std::make_unique<TitleWatch>(id, [this] {
            done->hide();
            info->refresh();
        });
    }
    info->setEditing(false);
    info->setSkrin(id);
    bar->setEditing(false);
    bar->setSkrin(id);
    checkTooBig();
    place();
}

void EditorOverlays::toolChanged(int newTool)
{
    if (tool == 0 && newTool != 0 && done->isVisible())
        done->save();
    tool = newTool;
    info->setEditing(newTool != 0);
    bar->setEditing(newTool != 0);
    place();
}

void EditorOverlays::askTitle(Id id, bool urlCopied)
{
    if (id != 0 && serverOptionValue(QStringLiteral("capture_title_ask"), true).toBool())
        done->showForSkrin(id, urlCopied);
    place();
}

void EditorOverlays::checkTooBig()
{
    bool found = false;
    if (skrin != 0) {
        // The few held items are asked for their parent, rather than the
        // screenshot for its children in every table.
        const QSet<Id> held = tooBigItemIds();
        for (const Id id : held) {
            found = id == skrin || idFromVariant(getMember(id, QStringLiteral("parent"))) == skrin;
            if (found)
                break;
        }
    }
    tooBig->showNotice(found);
}

void EditorOverlays::place()
{
    done->move((view->width() - done->width()) / 2, (view->height() - done->height()) / 2);
    bar->reposition();
    tooBig->reposition();
}

void EditorOverlays::updateToolBar(Skrin *scene)
{
    if (!scene)
        return;
    const SkrinToolOptions &options = scene->currentToolOptions();
    const int deciding = scene->optionsTool();
    double penSize = options.penSize;
    QColor color = options.color;
    QFont font = options.font;
    bool cropping = false;
    if (SkrinItem *item = scene->selectedItem()) {
        penSize = scene->penSizeOnScreen(item);
        color = item->color(QStringLiteral("color"));
        font = scene->fontOnScreen(item->id());
        const auto *image = dynamic_cast<SkrinImage *>(item);
        cropping = image && image->mode() == SkrinImage::CropMode;
    }
    bar->setToolFont(font);
    bar->setPenSize(penSize);
    bar->setColor(color);
    bar->setOptionsVisible(toolHasOption(deciding, PenSizeOption), toolHasOption(deciding, ColourOption),
                           toolHasOption(deciding, CropOption), toolHasOption(deciding, FontOption));
    // The mode of the picture selected now, whichever scene held the last one.
    bar->setCropActive(cropping);
    bar->setTool(scene->tool());
}

void EditorOverlays::imageToolChanged(int mode)
{
    bar->setCropActive(mode == SkrinImage::CropMode);
}
