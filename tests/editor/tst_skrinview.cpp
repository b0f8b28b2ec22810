// The editor view's delete keys: reported only when nothing in the scene took
// them, so typing in a note never deletes the screenshot.

#include "openstore.h"
#include "skrin.h"
#include "skrinview.h"

#include <QGraphicsTextItem>
#include <QSignalSpy>
#include <QTest>

class TestSkrinView : public QObject
{
    Q_OBJECT

private slots:
    void reportsUnhandledDeleteKeys_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<bool>("reported");
        QTest::newRow("Delete") << int(Qt::Key_Delete) << int(Qt::NoModifier) << true;
        QTest::newRow("Backspace") << int(Qt::Key_Backspace) << int(Qt::NoModifier) << true;
        QTest::newRow("keypad Delete") << int(Qt::Key_Delete) << int(Qt::KeypadModifier) << true;
        QTest::newRow("Shift+Delete") << int(Qt::Key_Delete) << int(Qt::ShiftModifier) << false;
        QTest::newRow("Ctrl+Backspace") << int(Qt::Key_Backspace) << int(Qt::ControlModifier) << false;
        QTest::newRow("X") << int(Qt::Key_X) << int(Qt::NoModifier) << false;
    }

    void reportsUnhandledDeleteKeys()
    {
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(bool, reported);
        OpenStore store;
        Skrin scene(OpenStore::newSkrin());
        SkrinView view;
        view.setScene(&scene);
        QSignalSpy deletes(&view, &SkrinView::delKey);
        QSignalSpy keys(&view, &CustomView::keyPressed);
        QTest::keyClick(&view, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        QCOMPARE(deletes.size(), reported ? 1 : 0);
        // Nothing accepted it: the view reports the key as well.
        QVERIFY(!keys.isEmpty());
        QCOMPARE(keys.last().at(0).toInt(), QKeyCombination(Qt::KeyboardModifiers(modifiers), Qt::Key(key)).toCombined());
    }

    void keysTakenByATextStayThere()
    {
        OpenStore store;
        Skrin scene(OpenStore::newSkrin());
        SkrinView view;
        view.setScene(&scene);
        auto *note = new QGraphicsTextItem(QStringLiteral("note"));
        note->setTextInteractionFlags(Qt::TextEditorInteraction);
        scene.addItem(note);
        view.show();
        QApplication::setActiveWindow(&view);
        QVERIFY(QTest::qWaitForWindowActive(&view));
        scene.setFocusItem(note);
        QVERIFY(note->hasFocus());

        QSignalSpy deletes(&view, &SkrinView::delKey);
        QSignalSpy keys(&view, &CustomView::keyPressed);
        QTest::keyClick(&view, Qt::Key_End);
        QTest::keyClick(&view, Qt::Key_Backspace);
        QTest::keyClick(&view, Qt::Key_Delete);
        QCOMPARE(note->toPlainText(), QStringLiteral("not"));
        QCOMPARE(deletes.size(), 0);
        QCOMPARE(keys.size(), 0);

        note->clearFocus();
        QTest::keyClick(&view, Qt::Key_Backspace);
        QCOMPARE(deletes.size(), 1);
        QCOMPARE(note->toPlainText(), QStringLiteral("not"));
    }
};

QTEST_MAIN(TestSkrinView)
#include "tst_skrinview.moc"
