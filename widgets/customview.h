#pragma once

// A graphics view with a transparent viewport that reports its input as
// signals and lets a CustomScene see drags first.

#include <QGraphicsView>

class CustomScene;

class CustomView : public QGraphicsView
{
    Q_OBJECT
public:
    explicit CustomView(QWidget *parent = nullptr);

signals:
    void resized();
    void mouseMoved(QPoint pos);
    void mousePressed(Qt::MouseButton button, QPoint pos);
    void mouseReleased(Qt::MouseButton button);
    void mouseDoubleClicked(Qt::MouseButton button, QPoint pos);
    void leaveEventSignal();
    void enterEventSignal();
    // The key code with the modifier bits, for keys nothing else accepted.
    void keyPressed(int key);
    void keyReleased(int key);

protected:
    void resizeEvent(QResizeEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    CustomScene *customScene() const;
};
