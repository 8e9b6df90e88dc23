#include "gui/hex_window.h"

#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QTimer>

#include "viewer/hex_picture.h"

namespace kestra::gui {

// One white pane showing its picture; the text pane passes presses on.
class NTKestHex::PaneView : public QWidget {
  public:
    PaneView(QWidget* parent, const QImage& image) : QWidget(parent), image_(image) {
        setAttribute(Qt::WA_OpaquePaintEvent);
        setFocusPolicy(Qt::NoFocus);
    }
    std::function<void(int y)> pressed;

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.drawImage(0, 0, image_);
    }
    void mousePressEvent(QMouseEvent* event) override {
        if (pressed) pressed(static_cast<int>(event->position().y()));
    }

  private:
    const QImage& image_;
};

namespace {

QImage ImageOf(const display::Canvas& canvas) {
    return QImage(reinterpret_cast<const uchar*>(canvas.Pixels().data()), canvas.Width(),
                  canvas.Height(), canvas.Width() * 3, QImage::Format_RGB888)
        .convertToFormat(QImage::Format_RGB32);
}

QRect RectOf(const viewer::Place& p) {
    return {p.left, p.top, p.width, p.height};
}

}  // namespace

void XorMarks(QImage& pane, viewer::Pane which, const std::vector<viewer::Mark>& marks) {
    QPainter p(&pane);
    p.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
    for (const viewer::Mark& m : marks) {
        if (m.pane != which) continue;
        const display::Rgb c = display::PaletteColor(m.colour);
        const QColor colour(c.r, c.g, c.b);
        for (const viewer::PixelRect& r : viewer::MarkRects(m)) {
            const int w = r.right - r.left + 1;
            const int h = r.bottom - r.top + 1;
            if (which == viewer::Pane::Text) {
                p.fillRect(r.left, r.top, w, h, colour);
                continue;
            }
            // The outline in four pieces that do not overlap: a corner drawn
            // twice would vanish under the exclusive-or.
            p.fillRect(r.left, r.top, w, 1, colour);
            p.fillRect(r.left, r.bottom, w, 1, colour);
            p.fillRect(r.left, r.top + 1, 1, h - 2, colour);
            p.fillRect(r.right, r.top + 1, 1, h - 2, colour);
        }
    }
}

NTKestHex::NTKestHex(QWidget* parent, viewer::HexView& view) : QDialog(parent), view_(view) {
    setModal(true);
    setFixedSize(viewer::kWindowWidth, viewer::kWindowHeight);
    QPalette grey = palette();
    grey.setColor(QPalette::Window, QColor(192, 192, 192));
    setPalette(grey);
    setAutoFillBackground(true);

    lblDir_ = new QLabel(this);
    lblDir_->setObjectName("lblDir");
    lblDir_->setGeometry(RectOf(viewer::kLblDir));
    txtDir_ = new QLineEdit(this);
    txtDir_->setObjectName("txtDir");
    txtDir_->setGeometry(RectOf(viewer::kTxtDir));
    auto* sector = new QLabel("  Sector", this);
    sector->setGeometry(RectOf(viewer::kLblSector));
    txtBlock_ = new QLineEdit(this);
    txtBlock_->setObjectName("txtBlock");
    txtBlock_->setGeometry(RectOf(viewer::kTxtBlock));
    for (QLineEdit* box : {txtDir_, txtBlock_})
        box->installEventFilter(this);

    const std::array<viewer::Place, 3> places = {viewer::kPicOffset, viewer::kPicData,
                                                 viewer::kPicText};
    for (size_t i = 0; i < places.size(); ++i) {
        panes_[i] = QImage(places[i].width, places[i].height, QImage::Format_RGB32);
        panes_[i].fill(Qt::white);
        auto* pane = new PaneView(this, panes_[i]);
        pane->setGeometry(RectOf(places[i]));
        if (i == 2) {
            pane->setObjectName("picText");
            pane->pressed = [this](int y) {
                view_.Dir_Nest(y);
                Sync();
            };
            picText_ = pane;
        }
    }
    // The set-up runs once the window is on the screen.
    QTimer::singleShot(100, this, [this] {
        view_.FormLoad();
        Sync();
        txtDir_->setFocus();
    });
}

void NTKestHex::Sync() {
    if (!view_.Open) {
        done(0);
        return;
    }
    setWindowTitle(QString::fromStdString(view_.Caption));
    lblDir_->setText(QString::fromStdString(view_.lblDir));
    const QString dir = QString::fromStdString(view_.txtDir);
    const QString block = QString::fromStdString(view_.txtBlock);
    if (txtDir_->text() != dir) txtDir_->setText(dir);
    if (txtBlock_->text() != block) txtBlock_->setText(block);
    display::Canvas offset, data, text;
    viewer::PrintPanes(view_, offset, data, text);
    panes_[0] = ImageOf(offset);
    panes_[1] = ImageOf(data);
    panes_[2] = ImageOf(text);
    XorMarks(panes_[1], viewer::Pane::Data, view_.Marks);
    XorMarks(panes_[2], viewer::Pane::Text, view_.Marks);
    update();
    for (QWidget* child : findChildren<PaneView*>())
        child->update();
}

bool NTKestHex::BoxKey(viewer::Box box, QKeyEvent* event) {
    QLineEdit* edit = box == viewer::Box::Dir ? txtDir_ : txtBlock_;
    (box == viewer::Box::Dir ? view_.txtDir : view_.txtBlock) = edit->text().toStdString();
    switch (event->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
            view_.KeyDown(box, viewer::Key::Enter);
            break;
        case Qt::Key_PageUp:
            view_.KeyDown(box, viewer::Key::PageUp);
            break;
        case Qt::Key_PageDown:
            view_.KeyDown(box, viewer::Key::PageDown);
            break;
        case Qt::Key_Home:
            view_.KeyDown(box, viewer::Key::Home);
            break;
        case Qt::Key_End:
            view_.KeyDown(box, viewer::Key::End);
            break;
        case Qt::Key_Escape:
            view_.Form_KeyDown(viewer::Key::Escape);
            break;
        case Qt::Key_Backspace:
            return false;
        default: {
            const QString typed = event->text();
            // Arrows, Delete and the like carry no character: the box keeps them.
            if (typed.isEmpty() || !typed.at(0).isPrint()) return false;
            return !view_.KeyPress(box, typed.at(0).toLatin1());
        }
    }
    Sync();
    return true;
}

bool NTKestHex::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress && (watched == txtDir_ || watched == txtBlock_)) {
        return BoxKey(watched == txtDir_ ? viewer::Box::Dir : viewer::Box::Block,
                      static_cast<QKeyEvent*>(event));
    }
    return QDialog::eventFilter(watched, event);
}

void NTKestHex::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_F1 && help) help();
    if (event->key() == Qt::Key_Escape) {
        view_.Form_KeyDown(viewer::Key::Escape);
        Sync();
    }
}

}  // namespace kestra::gui
