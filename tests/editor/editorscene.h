#pragma once

// A screenshot's scene in a real editor view (offscreen) on a real store, with
// mouse input of explicit buttons (QTest's helpers guess the buttons held),
// and a count of the writes to one member of a row.

#include "mouse.h"
#include "openstore.h"
#include "skrin.h"
#include "skrinitem.h"
#include "skrinview.h"
#include "tavrinconnector.h"
#include "watcher.h"

#include <QGraphicsItem>
#include <QTest>

#include <algorithm>
#include <memory>

class EditorScene
{
public:
    EditorScene()
    {
        // A connector that never synchronises: stored pictures load through it.
        if (!TavrinConnector::instance())
            TavrinConnector::create();
        TavrinConnector::stopSync();
        skrin = OpenStore::newSkrin();
        scene = std::make_unique<Skrin>(skrin);
        view = std::make_unique<SkrinView>();
        view->setScene(scene.get());
        view->resize(640, 480);
        view->setSceneRect(0, 0, 600, 440);
        view->show();
        QVERIFY(QTest::qWaitForWindowExposed(view.get()));
        view->activateWindow();
        view->setFocus();
    }

    ~EditorScene() { view.reset(), scene.reset(); }

    void press(const QPointF &at, Qt::MouseButton button = Qt::LeftButton, Qt::MouseButtons held = Qt::LeftButton)
    { sendMouse(view.get(), QEvent::MouseButtonPress, at, button, held); }
    void moveTo(const QPointF &at, Qt::MouseButtons held = Qt::LeftButton)
    { sendMouse(view.get(), QEvent::MouseMove, at, Qt::NoButton, held); }
    void release(const QPointF &at, Qt::MouseButton button = Qt::LeftButton, Qt::MouseButtons held = {})
    { sendMouse(view.get(), QEvent::MouseButtonRelease, at, button, held); }
    // A left drag in four moves, as a hand makes it.
    void drag(const QPointF &from, const QPointF &to) { leftDrag(view.get(), from, to, 4); }
    void click(const QPointF &at) { drag(at, at); }

    // The rows of one table under this screenshot (or `parent`), or all its
    // annotation rows, ascending.
    QList<Id> rows(const QString &table, Id parent = 0) const
    {
        return sorted(findItems({{QStringLiteral("type"), table}, {QStringLiteral("parent"), parent ? parent : skrin}}));
    }
    QList<Id> allRows() const { return sorted(childItems(skrin)); }
    QList<Id> selectedIds() const
    {
        QList<Id> ids;
        for (QGraphicsItem *graphics : scene->selectedItems())
            if (auto *item = dynamic_cast<SkrinItem *>(graphics))
                ids.append(item->id());
        return sorted(ids);
    }
    void select(const QList<Id> &ids)
    {
        scene->clearSelection();
        for (const Id id : ids)
            scene->skrinItem(id)->graphicsItem()->setSelected(true);
    }
    // A row under this screenshot, "parent" written last.
    Id addRow(const QString &table, const QVariantMap &members, Id parent = 0)
    {
        return ::addRow(table, parent ? parent : skrin, members);
    }

    static QList<Id> sorted(QList<Id> ids) { return std::sort(ids.begin(), ids.end()), ids; }

    OpenStore store;
    Id skrin = 0;
    std::unique_ptr<Skrin> scene;
    std::unique_ptr<SkrinView> view;
};

// Counts the writes of one member of one row.
class MemberWrites : public WatcherInterface
{
public:
    MemberWrites(Id id, const QString &member)
        : member(member) { watch(WatchFilter{{QStringLiteral("id"), QVariant(id)}}); }
    void onSet(const QString &name, const QVariant &) override { count += name == member; }
    const QString member;
    int count = 0;
};
