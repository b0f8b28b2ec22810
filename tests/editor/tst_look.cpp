// The editor's look: a view with an open screenshot, the tool bar for the pen
// and the info bar, rendered and compared with the reference picture kept in
// data/. An unintended change of the look fails here; after a deliberate one,
// run with PELLIMORE_UPDATE_LOOK=1 to write the new reference.

#include "database.h"
#include "engine.h"
#include "imagecache.h"
#include "infobar.h"
#include "skrin.h"
#include "skrintoolbar.h"
#include "skrinview.h"
#include "tempstore.h"

#include <QDateTime>
#include <QFontInfo>
#include <QPainter>
#include <QScopeGuard>
#include <QTest>

class TestLook : public QObject
{
    Q_OBJECT

private slots:
    void editorLooksAsBefore();
};

namespace {

// A plain test card for the screenshot's picture: sky over a field.
QPixmap testCard()
{
    QPixmap card(320, 200);
    card.fill(QColor(70, 110, 160));
    QPainter(&card).fillRect(0, 140, 320, 60, QColor(90, 150, 80));
    return card;
}

// Share of pixels whose channels differ by more than a small amount: text and
// antialiasing may move a little between font builds, the layout may not.
double differingShare(const QImage &a, const QImage &b)
{
    int differing = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            differing += qAbs(qRed(p) - qRed(q)) > 40 || qAbs(qGreen(p) - qGreen(q)) > 40 || qAbs(qBlue(p) - qBlue(q)) > 40;
        }
    }
    return double(differing) / (a.width() * a.height());
}

} // namespace

void TestLook::editorLooksAsBefore()
{
    QVERIFY(!QFontInfo(QFont()).family().isEmpty());
    TempStore store;
    registerEngineTypes();
    QString error;
    QVERIFY2(Database::open(store.path(), &error), qPrintable(error));
    bindTables();
    const auto closeStore = qScopeGuard([] { Database::close(); });
    {
        cachePixmap(QStringLiteral("lookcard.png"), testCard());
        const Id id = createItem(QStringLiteral("skrin"));
        setMember(id, QStringLiteral("title"), QStringLiteral("Harbour at noon"));
        setMember(id, QStringLiteral("modified"), QDateTime(QDate(2026, 5, 17), QTime(12, 30, 0)));
        for (const auto &[member, value] : {std::pair{"x", 0}, {"y", 0}, {"w", 320}, {"h", 200}})
            setMember(id, QString::fromLatin1(member), value);
        setMember(id, QStringLiteral("file"), QStringLiteral("lookcard.png"));

        SkrinView view;
        view.resize(720, 420);
        Skrin scene(id);
        view.setScene(&scene);
        view.setSceneRect(QRectF(-200, -90, 720, 420));
        view.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        view.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        InfoBar info(&view);
        info.move(20, 20);
        SkrinToolBar bar(&view);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        info.setSkrin(id);
        bar.setSkrin(id);
        bar.setEditing(true);
        bar.setColorVisible(true);
        bar.setTool(5);
        bar.setPenSize(5.0);

        const QImage shot = view.grab().toImage().convertToFormat(QImage::Format_RGB32);
        const QString reference = QStringLiteral(QT_TESTCASE_SOURCEDIR "/editor/data/look.png");
        if (qEnvironmentVariableIsSet("PELLIMORE_UPDATE_LOOK")) {
            QVERIFY(shot.save(reference));
            QSKIP("reference written");
        }
        const QImage expected = QImage(reference).convertToFormat(QImage::Format_RGB32);
        QCOMPARE(shot.size(), expected.size());
        const double share = differingShare(shot, expected);
        if (share > 0.01)
            shot.save(QDir::temp().filePath(QStringLiteral("pellimore-look-actual.png")));
        QVERIFY2(share <= 0.01, qPrintable(QStringLiteral("%1% of the pixels differ").arg(share * 100)));
    }
}

QTEST_MAIN(TestLook)
#include "tst_look.moc"
