#pragma once

// The sector viewer's window.

#include <QDialog>
#include <QImage>

#include <array>
#include <functional>

#include "viewer/hex_view.h"

class QLabel;
class QLineEdit;

namespace kestra::gui {

// Lays marks over a pane's picture with the exclusive-or raster operation: a
// mark drawn twice leaves the pixels as they were, colour 0 leaves them alone.
void XorMarks(QImage& pane, viewer::Pane which, const std::vector<viewer::Mark>& marks);

// The sector viewer NTKestHex: modal, its set-up 100 ms after it shows, the
// two boxes with their keys, three white panes in the fixed face, marks drawn
// with the exclusive-or pen, and presses in the text pane entering folders.
class NTKestHex : public QDialog {
  public:
    NTKestHex(QWidget* parent, viewer::HexView& view);

    // The panes as they are on screen: offset, data, text.
    const QImage& Pane(int i) const { return panes_[static_cast<size_t>(i)]; }
    QLineEdit* TxtDir() const { return txtDir_; }
    QLineEdit* TxtBlock() const { return txtBlock_; }
    QWidget* PicText() const { return picText_; }
    viewer::HexView& View() const { return view_; }
    // F1: the viewer's help page.
    std::function<void()> help;
    // Brings every control up to the model; closes when the viewer closed.
    void Sync();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    class PaneView;
    // Carries a box's key to the model; true when the box must not see it.
    bool BoxKey(viewer::Box box, QKeyEvent* event);

    viewer::HexView& view_;
    QLabel* lblDir_ = nullptr;
    QLineEdit* txtDir_ = nullptr;
    QLineEdit* txtBlock_ = nullptr;
    QWidget* picText_ = nullptr;
    std::array<QImage, 3> panes_;
};

}  // namespace kestra::gui
