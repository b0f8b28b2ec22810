// The renderer paints a screenshot from its rows as the editor's scene shows
// it with its items: the two painting roads must not drift apart.

#include "renderfixture.h"
#include "rowpainting.h"
#include "skrin.h"
#include "skrinitem.h"

#include <QGraphicsTextItem>

#include <QDateTime>
#include <QPainter>
#include <QTest>

class TestAgreement : public QObject
{
    Q_OBJECT

private slots:
    void rendererMatchesTheScene()
    {
        OpenStore store;
        QVERIFY(store.opened);
        const Id skrin = createItem("skrin");
        setMember(skrin, "created", QDateTime::currentDateTime());

        // A capture with structure: a gradient and a few blocks.
        QImage capture(400, 300, QImage::Format_RGB32);
        {
            QPainter painter(&capture);
            QLinearGradient gradient(0, 0, 400, 300);
            gradient.setColorAt(0, QColor(20, 40, 90));
            gradient.setColorAt(1, QColor(240, 230, 200));
            painter.fillRect(capture.rect(), gradient);
            painter.fillRect(QRect(40, 40, 120, 60), QColor(200, 30, 30));
            painter.fillRect(QRect(250, 180, 100, 80), QColor(30, 160, 60));
        }
        const QString file = storedPicture(capture);
        addImage(skrin, file, capture.size(), capture.rect());
        addRow("skrin_marker", skrin, {{"x", 20}, {"y", 200}, {"z", 1}, {"pen_size", 18}, {"color", "#ffff00"},
                                       {"data", "[0,0,60,-20,140,10,200,-5]"}});
        // The renderer takes whole points: 16.7 paints as the editor shows 16.
        const Id text = addRow("skrin_text", skrin, {{"x", 180}, {"y", 30}, {"z", 2}, {"data", "Agreed"},
                                     {"font_name", "DejaVu Sans"}, {"font_size", 16.7}, {"font_weight", 75}, {"font_italic", 0}, {"font_underline", 1},
                                     {"font_strikeout", 0}, {"color", "#102030"}});
        addRow("skrin_arrow", skrin, {{"x", 60}, {"y", 120}, {"z", 3}, {"begin_x", 0}, {"begin_y", 0}, {"end_x", 150},
                                      {"end_y", 60}, {"pen_size", 5}, {"color", "#e00000"}});
        addRow("skrin_line", skrin, {{"x", 300}, {"y", 20}, {"z", 4}, {"begin_x", 0}, {"begin_y", 0}, {"end_x", 70},
                                     {"end_y", 110}, {"pen_size", 3}, {"color", "#0000c0"}});
        addRow("skrin_ellipse", skrin, {{"x", 330}, {"y", 150}, {"z", 5}, {"w", 60}, {"h", 40}, {"color", "#8040c0"}});
        addRow("skrin_ellipse_frame", skrin, {{"x", 20}, {"y", 20}, {"z", 6}, {"w", 90}, {"h", 50}, {"pen_size", 4},
                                              {"color", "#00a0a0"}});
        addRow("skrin_rectangle", skrin, {{"x", 200}, {"y", 230}, {"z", 7}, {"w", 40}, {"h", 30}, {"color", "#ff8000"}});
        addRow("skrin_rectangle_frame", skrin, {{"x", 120}, {"y", 60}, {"z", 8}, {"w", 70}, {"h", 40},
                                                {"pen_size", 6}, {"color", "#004000"}});
        addRow("skrin_pen", skrin, {{"x", 250}, {"y", 100}, {"z", 9}, {"pen_size", 4}, {"color", "#000000"},
                                    {"data", "[0,0,20,30,40,10,60,45,90,20]"}});
        // The blur pixelates the image below it. It lies over the gradient: the
        // scene's blur averages its blocks a second time, which only hard edges
        // under the band would set apart from the renderer's single pass.
        addRow("skrin_blur", skrin, {{"x", 30}, {"y", 240}, {"z", 10}, {"pen_size", 30},
                                     {"data", "[0,0,60,30,130,10]"}});
        // Frames shrunk by their handles below their pens keep negative sizes.
        addRow("skrin_rectangle_frame", skrin, {{"x", 390}, {"y", 130}, {"z", 12}, {"w", -30}, {"h", -30},
                                                {"pen_size", 20}, {"color", "#602000"}});
        addRow("skrin_ellipse_frame", skrin, {{"x", 240}, {"y", 60}, {"z", 13}, {"w", -24}, {"h", -20},
                                              {"pen_size", 16}, {"color", "#206020"}});
        addRow("skrin_rectangle", skrin, {{"x", 380}, {"y", 290}, {"z", 14}, {"w", -40}, {"h", -20}, {"color", "#2040ff"}});
        // Pins are notes, not part of the picture: kept away from it.
        addRow("skrin_pin", skrin, {{"x", 900}, {"y", 900}, {"z", 11}, {"data", "note"}, {"color", "#ffff00"},
                                    {"opened", 0}});

        markSkrinDirty(skrin);
        render(skrin);
        const QRectF bounds = skrinRect(skrin);
        // The canvas as the renderer stored it, before the lossy encode (whose
        // ringing at every hard edge would hide the drift this looks for).
        const QImage stored = cachedImage(getMember(skrin, "file").toString()).convertToFormat(QImage::Format_RGB32);
        QCOMPARE(stored.size(), bounds.size().toSize());
        setMember(text, "font_size", 16);

        // The same screenshot on its scene, items shown, nothing selected.
        Skrin scene(skrin);
        scene.setTool(Skrin::ToolSelect);
        scene.clearSelection();
        // The blur's pixel grid follows the scene rectangle: the picture's own here.
        scene.setSceneRect(bounds);
        QCOMPARE(scene.annotationItems().size(), 15);
        const auto renderScene = [&] {
            QImage image(stored.size(), QImage::Format_ARGB32_Premultiplied);
            image.fill(QColor(0xeb, 0xeb, 0xeb));
            QPainter painter(&image);
            painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing
                                   | QPainter::SmoothPixmapTransform);
            scene.render(&painter, QRectF(image.rect()), bounds);
            painter.end();
            return image.convertToFormat(QImage::Format_RGB32);
        };
        // The image item loads its picture in the background on first sight.
        renderScene();
        QTRY_VERIFY(!cachedPixmap(file).isNull());
        const QImage shown = renderScene();

        const double share = 1 - differingShare(stored, shown, 8);
        if (share < 0.99) {
            stored.save(QDir::tempPath() + "/agreement-renderer.png");
            shown.save(QDir::tempPath() + "/agreement-scene.png");
        }
        QVERIFY2(share >= 0.99, qPrintable(QStringLiteral("%1% of pixels agree").arg(share * 100, 0, 'f', 2)));
        // Each row on its own rectangle too, where a small kind's drift shows.
        QStringList drifted;
        for (const Id id : childItems(skrin)) {
            QVariantMap row = readItem(id);
            row.insert("type", itemType(id));
            const QPointF at = QPointF(row["x"].toDouble(), row["y"].toDouble()) - bounds.topLeft();
            const QRect area = rowRect(row).translated(at).toAlignedRect() & stored.rect();
            const double agree = area.isEmpty() ? 1 : 1 - differingShare(stored.copy(area), shown.copy(area), 8);
            if (agree < 0.97)
                drifted << QStringLiteral("%1 %2%").arg(row["type"].toString()).arg(agree * 100, 0, 'f', 1);
        }
        QVERIFY2(drifted.isEmpty(), qPrintable(drifted.join(", ")));
    }

    // Fonts stored by another client: the editor's item, its font reader
    // and the renderer read them alike, and a font written goes back on the
    // same scale.
    void storedFontsReadAlike_data()
    {
        QTest::addColumn<QVariant>("weight");
        QTest::addColumn<QVariant>("size");
        QTest::addColumn<int>("qtWeight");
        QTest::addColumn<int>("pointSize");
        const int usual = QFont().pointSize();
        QTest::newRow("black") << QVariant(87) << QVariant(20) << int(QFont::Black) << 20;
        QTest::newRow("beyond black") << QVariant(99) << QVariant(20) << int(QFont::Black) << 20;
        QTest::newRow("extra bold") << QVariant(81) << QVariant(20) << int(QFont::ExtraBold) << 20;
        QTest::newRow("no size") << QVariant(50) << QVariant(0.5) << int(QFont::Normal) << usual;
        QTest::newRow("negative size") << QVariant(75) << QVariant(-3) << int(QFont::Bold) << usual;
    }

    void storedFontsReadAlike()
    {
        QFETCH(QVariant, weight);
        QFETCH(QVariant, size);
        QFETCH(int, qtWeight);
        QFETCH(int, pointSize);
        OpenStore store;
        QVERIFY(store.opened);
        const Id skrin = createItem("skrin");
        const Id text = addRow("skrin_text", skrin, {{"x", 0}, {"y", 0}, {"z", 1}, {"data", "Heavy"},
                                                     {"font_name", "DejaVu Sans"}, {"font_size", size},
                                                     {"font_weight", weight}, {"font_italic", 0},
                                                     {"font_underline", 0}, {"font_strikeout", 0},
                                                     {"color", "#000000"}});
        QVariantMap row = readItem(text);
        row.insert("type", "skrin_text");
        Skrin scene(skrin);
        auto *item = dynamic_cast<QGraphicsTextItem *>(scene.skrinItem(text)->graphicsItem());
        QVERIFY(item);
        for (const QFont &font : {item->font(), Skrin::readFont(text), textFontFromRow(row)}) {
            QCOMPARE(font.weight(), qtWeight);
            QCOMPARE(qRound(font.pointSizeF()), pointSize);
        }

        scene.writeFont(text, Skrin::readFont(text));
        QCOMPARE(getMember(text, "font_weight").toInt(), std::min(weight.toInt(), 87));
    }
};

QTEST_MAIN(TestAgreement)
#include "tst_agreement.moc"
