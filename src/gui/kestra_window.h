#pragma once

// The desktop program's windows over the core's canvases.

#include <QDialog>
#include <QMainWindow>

#include <functional>
#include <map>
#include <string>

#include "app/main_window.h"
#include "gui/qt_host.h"

class QAction;
class QComboBox;
class QGroupBox;
class QLabel;
class QListWidget;
class QMenu;

namespace kestra::gui {

// Shows a canvas of the core one to one; `beforePaint` lets its owner draw first.
class CanvasView : public QWidget {
  public:
    CanvasView(QWidget* parent, const display::Canvas& canvas);
    std::function<void()> beforePaint;
    // Canvas pixels per device pixel: a whole number of device pixels per
    // canvas pixel keeps text and box edges sharp.
    double imageRatio = 1.0;

  protected:
    void paintEvent(QPaintEvent*) override;

  private:
    const display::Canvas& canvas_;
};

// The modal run window NTKestMap: its two status lines, and the run started
// from its own timer once it is visible.
class RunWindow : public QDialog {
  public:
    RunWindow(QWidget* parent, run::RunContext& ctx);

  protected:
    void showEvent(QShowEvent*) override;
    void paintEvent(QPaintEvent*) override;
    void keyPressEvent(QKeyEvent*) override;
    void closeEvent(QCloseEvent*) override;

  private:
    run::RunContext& ctx_;
    bool started_ = false;
};

// The main window NTKestF: draws the model's state and forwards events to it.
class KestraWindow : public QMainWindow {
  public:
    KestraWindow(app::MainWindow& model, QtUiHost& host, int twipsPerPixel);
    ~KestraWindow() override;

    // Brings every widget up to the model's state; `now` repaints at once.
    void Sync(bool now = false);
    QAction* Action(const std::string& name) const;
    QMenu* MenuNamed(const std::string& name) const;
    RunWindow* CurrentRunWindow() const { return runWindow_; }
    QDialog* CurrentHexWindow() const { return hexWindow_; }
    QWidget* Widget(const std::string& name) const;
    void ShowHelp(int context);

  protected:
    void keyPressEvent(QKeyEvent*) override;
    void closeEvent(QCloseEvent*) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void BuildMenus();
    void BuildCopyAction();
    void LayOut();
    void PlaceTextArea(double dpr, int textScale);
    void OnMenu(const std::string& name);
    void OpenRunWindow(run::RunContext& ctx);
    void OpenHexWindow(viewer::HexView& view);

    app::MainWindow& model_;
    QtUiHost& host_;
    int twips_;
    bool layingOut_ = false;
    double layoutRatio_ = 0;
    display::Canvas surfaceCanvas_;
    CanvasView* surface_ = nullptr;
    CanvasView* picMap_ = nullptr;
    CanvasView* picHistoE_ = nullptr;
    CanvasView* picHistoF_ = nullptr;
    QGroupBox* frmInuse_ = nullptr;
    QListWidget* lstInuse_ = nullptr;
    QListWidget* lstValErrs_ = nullptr;
    QComboBox* drvUser_ = nullptr;
    QLabel* lblCount_ = nullptr;
    QLabel* imgKest_ = nullptr;
    RunWindow* runWindow_ = nullptr;
    QDialog* hexWindow_ = nullptr;
    QDialog* help_ = nullptr;
    std::map<std::string, QAction*> actions_;
    std::map<std::string, QMenu*> menus_;
    bool syncing_ = false;
};

}  // namespace kestra::gui
