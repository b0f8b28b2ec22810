#include "capture.h"
#include "captureoverlay.h"
#include "mouse.h"

#include <QApplication>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>

namespace {

// A different colour on every device pixel of the screen, whatever its density.
QRgb patternAt(int x, int y)
{
    return qRgb(x & 0xff, y & 0xff, ((x >> 8) & 0xf) | ((y >> 8) & 0xf) << 4);
}

class PatternedDesktop : public QWidget
{
public:
    PatternedDesktop()
        : QWidget(nullptr, Qt::FramelessWindowHint)
    {
        setGeometry(QGuiApplication::primaryScreen()->geometry());
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        const double ratio = devicePixelRatioF();
        QImage pixels((QSizeF(size()) * ratio).toSize(), QImage::Format_RGB32);
        for (int y = 0; y < pixels.height(); ++y)
            for (int x = 0; x < pixels.width(); ++x)
                pixels.setPixel(x, y, patternAt(x, y));
        pixels.setDevicePixelRatio(ratio);
        QPainter(this).drawImage(0, 0, pixels);
    }
};

// A mouse event at a device pixel of a full-screen overlay.
void sendAtPixel(QWidget *overlay, QEvent::Type type, const QPoint &pixel, Qt::MouseButton button,
                 Qt::MouseButtons held)
{
    sendThroughWindow(overlay, type, QPointF(pixel) / overlay->devicePixelRatioF(), button, held);
}

} // namespace

// Receives captures the way the program's windows do.
class Receiver : public QObject
{
    Q_OBJECT

public:
    QList<QPixmap> pictures;

public slots:
    void onShoot(const QPixmap &pixmap) { pictures.append(pixmap); }
};

class TestShooter : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        qunsetenv("XDG_SESSION_TYPE");
        qunsetenv("WAYLAND_DISPLAY");
        receiver.pictures.clear();
        window.setGeometry(100, 100, 300, 200);
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
    }

    void cleanup()
    {
        // A failed case may leave its capture open.
        if (ShooterOverlay *overlay = isCaptureRunning() ? waitForCaptureOverlay() : nullptr)
            QTest::keyClick(overlay, Qt::Key_Escape);
        QTRY_VERIFY(!isCaptureRunning());
        window.hide();
    }

    void emptyGrabTellsTheUser()
    {
        // What a Wayland session gives: nothing to show, so a message instead
        // of a black picture, and the windows come back.
        auto *shooter = new Shooter(ScreenGrabber::forPlatform(QStringLiteral("wayland")));
        QObject::connect(shooter, &Shooter::shot, &receiver, &Receiver::onShoot);
        QSignalSpy finished(shooter, &Shooter::finished);
        shooter->start(false);
        QVERIFY(finished.wait(20000));
        QVERIFY(receiver.pictures.isEmpty());
        QVERIFY(window.isVisible());
        auto *message = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        QVERIFY(message);
        QVERIFY(message->text().contains(QLatin1String("could not be captured")));
        message->close();
    }

    void unreadableGrabs_data()
    {
        QTest::addColumn<QString>("platform");
        QTest::addColumn<QString>("session");
        QTest::addColumn<QColor>("colour");
        QTest::addColumn<bool>("unreadable");

        QTest::newRow("X11 desktop") << "xcb" << "x11" << QColor(Qt::black) << false;
        QTest::newRow("X11 under Wayland, black") << "xcb" << "wayland" << QColor(Qt::black) << true;
        QTest::newRow("X11 under Wayland, dark but seen") << "xcb" << "wayland" << QColor(0, 0, 1) << false;
        QTest::newRow("other platform in Wayland, black") << "offscreen" << "wayland" << QColor(Qt::black) << false;
    }

    void unreadableGrabs()
    {
        QFETCH(QString, platform);
        QFETCH(QString, session);
        QFETCH(QColor, colour);
        QFETCH(bool, unreadable);
        qputenv("XDG_SESSION_TYPE", session.toLatin1());
        QPixmap first(64, 48);
        first.fill(Qt::black);
        QPixmap second(32, 32);
        second.fill(colour);
        const QList<ScreenGrab> grabs{{QRect(0, 0, 64, 48), first}, {QRect(64, 0, 32, 32), second}};
        QCOMPARE(isUnreadableGrab(grabs, platform), unreadable);
        QVERIFY(isUnreadableGrab({}, platform));
        QVERIFY(isUnreadableGrab({{QRect(0, 0, 64, 48), QPixmap()}}, platform));
    }

    void dragChoosesRectangle_data()
    {
        QTest::addColumn<bool>("typed");
        QTest::addColumn<bool>("keepWindows");
        QTest::addColumn<QPoint>("from");
        QTest::addColumn<QPoint>("to");
        QTest::addColumn<QRect>("expected");

        QTest::newRow("text slot, windows hidden") << false << false << QPoint(10, 20) << QPoint(210, 170)
                                                   << QRect(10, 20, 201, 151);
        QTest::newRow("typed slot, windows kept") << true << true << QPoint(300, 250) << QPoint(40, 60)
                                                  << QRect(40, 60, 261, 191);
        QTest::newRow("dragged past the edge") << true << false << QPoint(700, 750) << QPoint(950, 990)
                                               << QRect(700, 750, 100, 50);
        // Both end pixels are taken: the pointer cannot pass the last one.
        QTest::newRow("to the far corner") << true << true << QPoint(799, 799) << QPoint(1, 2)
                                           << QRect(1, 2, 799, 798);
        QTest::newRow("one pixel column") << true << true << QPoint(30, 30) << QPoint(30, 90) << QRect(30, 30, 1, 61);
    }

    void dragChoosesRectangle()
    {
        QFETCH(bool, typed);
        QFETCH(bool, keepWindows);
        QFETCH(QPoint, from);
        QFETCH(QPoint, to);
        QFETCH(QRect, expected);

        const bool started = typed ? shootPrecise(&receiver, &Receiver::onShoot, keepWindows)
                                   : shootPrecise(&receiver, SLOT(onShoot(QPixmap)), keepWindows);
        QVERIFY(started);
        QVERIFY(isCaptureRunning());
        QCOMPARE(window.isVisible(), keepWindows);

        ShooterOverlay *overlay = waitForCaptureOverlay();
        QVERIFY(overlay);
        QCOMPARE(overlay->geometry(), overlay->screenGeometry());
        // The desktop is read with the windows already hidden.
        const QImage expectedPixels = desktopPart(expected);

        QTest::mousePress(overlay, Qt::LeftButton, {}, from);
        QTest::mouseMove(overlay, (from + to) / 2);
        QTest::mouseMove(overlay, to);
        QTest::mouseRelease(overlay, Qt::LeftButton, {}, to);

        QCOMPARE(receiver.pictures.size(), 1);
        const QPixmap picture = receiver.pictures.first();
        QCOMPARE(picture.size(), expected.size());
        if (!keepWindows)
            QCOMPARE(picture.toImage().convertToFormat(QImage::Format_RGB32),
                     expectedPixels.convertToFormat(QImage::Format_RGB32));
        QVERIFY(!isCaptureRunning());
        QVERIFY(window.isVisible());
        QTRY_VERIFY(!overlay->isVisible());
        QTRY_COMPARE(QApplication::activeWindow(), &window); // the keyboard is back
    }

    void cancelLeavesNothing_data()
    {
        QTest::addColumn<bool>("byKey");
        QTest::newRow("Esc") << true;
        QTest::newRow("right button") << false;
    }

    void cancelLeavesNothing()
    {
        QFETCH(bool, byKey);
        QVERIFY(shootPrecise(&receiver, &Receiver::onShoot, false));
        ShooterOverlay *overlay = waitForCaptureOverlay();
        QVERIFY(overlay);

        QTest::mousePress(overlay, Qt::LeftButton, {}, QPoint(5, 5));
        QTest::mouseMove(overlay, QPoint(100, 100));
        if (byKey)
            QTest::keyClick(overlay, Qt::Key_Escape);
        else
            QTest::mousePress(overlay, Qt::RightButton, {}, QPoint(100, 100));
        // A release after the cancel changes nothing.
        QTest::mouseRelease(overlay, Qt::LeftButton, {}, QPoint(100, 100));

        QVERIFY(receiver.pictures.isEmpty());
        QVERIFY(!isCaptureRunning());
        QVERIFY(window.isVisible());
    }

    void oneCaptureAtATime()
    {
        QVERIFY(shootPrecise(&receiver, &Receiver::onShoot, true));
        QVERIFY(!shootPrecise(&receiver, &Receiver::onShoot, true));
        QVERIFY(!shootPrecise(&receiver, SLOT(onShoot(QPixmap)), true));
        ShooterOverlay *overlay = waitForCaptureOverlay();
        QVERIFY(overlay);
        QTest::keyClick(overlay, Qt::Key_Escape);
        QVERIFY(!isCaptureRunning());

        // A receiver that goes away before the release gets nothing, and no crash.
        auto *shortLived = new Receiver;
        QVERIFY(shootPrecise(shortLived, &Receiver::onShoot, true));
        overlay = waitForCaptureOverlay();
        QVERIFY(overlay);
        delete shortLived;
        QTest::mousePress(overlay, Qt::LeftButton, {}, QPoint(5, 5));
        QTest::mouseRelease(overlay, Qt::LeftButton, {}, QPoint(50, 50));
        QVERIFY(!isCaptureRunning());

        QVERIFY(!shootPrecise(nullptr, SLOT(onShoot(QPixmap)), true));
        QVERIFY(!shootPrecise(&receiver, SLOT(noSuchSlot(QPixmap)), true));
        QVERIFY(!isCaptureRunning());
    }

    void clickWithoutDragKeepsWaiting()
    {
        QVERIFY(shootPrecise(&receiver, &Receiver::onShoot, true));
        ShooterOverlay *overlay = waitForCaptureOverlay();
        QVERIFY(overlay);
        QTest::mouseClick(overlay, Qt::LeftButton, {}, QPoint(30, 30));
        QTest::mousePress(overlay, Qt::LeftButton, {}, QPoint(30, 30));
        QTest::mouseMove(overlay, QPoint(60, 90));
        QTest::mouseRelease(overlay, Qt::LeftButton, {}, QPoint(30, 30)); // back where it started
        QVERIFY(receiver.pictures.isEmpty());
        QVERIFY(isCaptureRunning());
        QVERIFY(overlay->isVisible());

        // The selection shows the desktop as it is, the rest stays dimmed.
        QTest::mousePress(overlay, Qt::LeftButton, {}, QPoint(200, 200));
        const QImage dimmed = overlay->grab().toImage();
        QTest::mouseMove(overlay, QPoint(400, 300));
        const QImage painted = overlay->grab().toImage();
        QCOMPARE(painted.pixelColor(100, 100), dimmed.pixelColor(100, 100));
        QVERIFY(painted.pixelColor(300, 250).lightness() > dimmed.pixelColor(300, 250).lightness());
        QTest::mouseRelease(overlay, Qt::LeftButton, {}, QPoint(400, 300));
        QCOMPARE(receiver.pictures.size(), 1);
        const QImage picture = receiver.pictures.first().toImage().convertToFormat(painted.format());
        QCOMPARE(picture.size(), QSize(201, 101));
        QCOMPARE(picture.pixelColor(100, 50), painted.pixelColor(300, 250));
    }

    // On a screen of any density the picture holds the device pixels from
    // the one under the press to the one under the release, both taken; the
    // read-out says that size and the frame lies on those pixels.
    void takesTheDevicePixelsDragged_data()
    {
        QTest::addColumn<QPoint>("from");
        QTest::addColumn<QPoint>("to");
        QTest::newRow("down and right") << QPoint(100, 100) << QPoint(400, 300);
        QTest::newRow("up and left") << QPoint(400, 300) << QPoint(100, 100);
        QTest::newRow("odd pixels") << QPoint(251, 151) << QPoint(650, 550);
        QTest::newRow("between coordinates at 1.25x") << QPoint(102, 103) << QPoint(399, 298);
        const QScreen *screen = QGuiApplication::primaryScreen();
        if (screen->geometry().width() * screen->devicePixelRatio() > 850)
            QTest::newRow("odd pixels, wide") << QPoint(251, 151) << QPoint(850, 550);
    }
    void takesTheDevicePixelsDragged()
    {
        QFETCH(QPoint, from);
        QFETCH(QPoint, to);
        const QRect expected(QPoint(std::min(from.x(), to.x()), std::min(from.y(), to.y())),
                             QPoint(std::max(from.x(), to.x()), std::max(from.y(), to.y())));
        window.hide();
        PatternedDesktop desktop;
        desktop.show();
        QVERIFY(QTest::qWaitForWindowExposed(&desktop));

        Shooter *shooter = newPreciseShooter();
        QVERIFY(shooter);
        QObject::connect(shooter, &Shooter::shot, &receiver, &Receiver::onShoot);
        shooter->start(true);
        ShooterOverlay *overlay = waitForCaptureOverlay();
        QVERIFY(overlay);
        sendAtPixel(overlay, QEvent::MouseButtonPress, from, Qt::LeftButton, Qt::LeftButton);
        sendAtPixel(overlay, QEvent::MouseMove, (from + to) / 2, Qt::NoButton, Qt::LeftButton);
        sendAtPixel(overlay, QEvent::MouseMove, to, Qt::NoButton, Qt::LeftButton);

        QCOMPARE(shooter->selectionPixelSize(), expected.size());
        const QImage shown = overlay->grab().toImage().convertToFormat(QImage::Format_RGB32);
        const QRgb frame = qRgb(0x33, 0x99, 0xff);
        for (const QPoint &corner : {expected.topLeft(), expected.bottomRight()})
            QCOMPARE(shown.pixel(corner), frame);
        // Just outside the edges: the desktop, dimmed.
        for (const QPoint &outside : {expected.topLeft() - QPoint(1, 1), expected.bottomRight() + QPoint(1, 1)})
            QVERIFY(shown.pixel(outside) != frame && shown.pixel(outside) != patternAt(outside.x(), outside.y()));

        sendAtPixel(overlay, QEvent::MouseButtonRelease, to, Qt::LeftButton, Qt::NoButton);
        QCOMPARE(receiver.pictures.size(), 1);
        const QImage picture = receiver.pictures.first().toImage().convertToFormat(QImage::Format_RGB32);
        QCOMPARE(picture.size(), expected.size());
        int wrong = 0;
        for (int y = 0; y < picture.height(); ++y)
            for (int x = 0; x < picture.width(); ++x)
                wrong += picture.pixel(x, y) != patternAt(expected.x() + x, expected.y() + y);
        QCOMPARE(wrong, 0);
    }

private:
    static QImage desktopPart(const QRect &area);

    Receiver receiver;
    QWidget window;
};

QImage TestShooter::desktopPart(const QRect &area)
{
    const QList<ScreenGrab> grabs = ScreenGrabber::forPlatform(QStringLiteral("offscreen"))->grabScreens();
    return grabs.value(0).pixmap.toImage().copy(area);
}

QTEST_MAIN(TestShooter)
#include "tst_shooter.moc"
