#include "gui/kestra_window.h"

#include <array>
#include <cmath>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QFileDialog>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QPainterPath>
#include <QTextBrowser>
#include <QTimer>
#include <QVBoxLayout>

#include "display/size_chart.h"
#include "gui/help_pages.h"
#include "gui/hex_window.h"
#include "gui/kestrel_picture.h"
#include "report/run_status.h"
#include "run/run_driver.h"

// The help pages are compiled into the library; this pulls them in.
static void InitHelpPages() {
    Q_INIT_RESOURCE(kestra);
}

namespace kestra::gui {
namespace {

QImage ImageOf(const display::Canvas& canvas) {
    static_assert(sizeof(display::Rgb) == 3);
    return QImage(reinterpret_cast<const uchar*>(canvas.Pixels().data()), canvas.Width(),
                  canvas.Height(), canvas.Width() * 3, QImage::Format_RGB888);
}

const std::map<std::string, app::Option> kOptionItems = {{"Pack_", app::Option::Pack},
                                                         {"Review_", app::Option::ReView},
                                                         {"DefragHuge_", app::Option::DefragHuge},
                                                         {"PackHuge_", app::Option::PackHuge}};

// Keeps a list widget equal to the model's list without rebuilding it needlessly.
void SyncList(QListWidget* list, const std::vector<std::string>& items) {
    const int n = static_cast<int>(items.size());
    if (list->count() > n) list->clear();
    for (int i = 0; i < n; ++i) {
        const QString text = QString::fromStdString(items[static_cast<size_t>(i)]);
        if (i < list->count()) {
            if (list->item(i)->text() != text) list->item(i)->setText(text);
        } else {
            list->addItem(text);
        }
    }
}

void Show(QWidget* w, bool now) {
    if (!w->isVisible()) return;
    if (now) {
        w->repaint();
    } else {
        w->update();
    }
}

}  // namespace

CanvasView::CanvasView(QWidget* parent, const display::Canvas& canvas)
    : QWidget(parent), canvas_(canvas) {
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void CanvasView::paintEvent(QPaintEvent*) {
    if (beforePaint) beforePaint();
    QPainter p(this);
    const QImage image = ImageOf(canvas_);
    const display::Rgb back = canvas_.BackColor;
    p.fillRect(rect(), QColor(back.r, back.g, back.b));
    // Without smoothing: each canvas pixel is a block of whole device pixels.
    p.drawImage(QRectF(0, 0, image.width() / imageRatio, image.height() / imageRatio), image,
                QRectF(image.rect()));
}

RunWindow::RunWindow(QWidget* parent, run::RunContext& ctx) : QDialog(parent), ctx_(ctx) {
    setModal(true);
    setWindowTitle(QString::fromStdString(ctx.Caption));
    const display::Canvas& surface = ctx.report.RunWindow.Surface;
    setFixedSize(surface.Width(), surface.Height());
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void RunWindow::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (started_) return;
    started_ = true;
    // The run starts once the window is on the screen.
    QTimer::singleShot(0, this, [this] {
        run::FormLoad(ctx_);
        done(0);
    });
}

void RunWindow::paintEvent(QPaintEvent*) {
    report::RunWindowPaint(ctx_.report);
    QPainter p(this);
    p.drawImage(0, 0, ImageOf(ctx_.report.RunWindow.Surface));
}

void RunWindow::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) run::Form_KeyDown(ctx_, 27);
}

void RunWindow::closeEvent(QCloseEvent* event) {
    if (!run::Form_QueryUnload(ctx_)) {
        event->ignore();
        return;
    }
    event->accept();
    done(0);
}

KestraWindow::KestraWindow(app::MainWindow& model, QtUiHost& host, int twipsPerPixel)
    : model_(model), host_(host), twips_(twipsPerPixel > 0 ? twipsPerPixel : 15) {
    InitHelpPages();
    setWindowTitle(app::kMainCaption);
    const display::Canvas& map = model_.ctx.map.picMap;
    const int runLeft = 4830 / twips_;
    const int width =
        std::max(runLeft + model_.ctx.report.RunWindow.Surface.Width() + 8, map.Width() + 300);
    const int height = map.Height() + 300;
    surfaceCanvas_ = display::Canvas(width, height, display::PaletteColor(7));
    surfaceCanvas_.BackColor = display::PaletteColor(7);

    surface_ = new CanvasView(this, surfaceCanvas_);
    surface_->resize(width, height);
    surface_->beforePaint = [this] {
        // Moved to a screen of another scaling: lay out again once this paint is done.
        if (surface_->devicePixelRatioF() != layoutRatio_)
            QTimer::singleShot(0, this, [this] {
                LayOut();
                Sync();
            });
        model_.Paint(surfaceCanvas_);
    };
    setCentralWidget(surface_);

    run::RunContext& ctx = model_.ctx;
    picMap_ = new CanvasView(surface_, ctx.map.picMap);
    picMap_->beforePaint = [this] {
        run::RunContext& c = model_.ctx;
        if (c.map.UpperBound() > 0 || c.map.ShowDistribution) c.map.picMap_Paint(c.Legend());
    };
    picHistoE_ = new CanvasView(surface_, ctx.PicHistoE.Picture);
    picHistoE_->beforePaint = [this] {
        display::PaintHistogram(model_.ctx.PicHistoE, model_.ctx.report.Gate());
    };
    picHistoF_ = new CanvasView(surface_, ctx.picHistoF.Picture);
    picHistoF_->beforePaint = [this] {
        display::PaintHistogram(model_.ctx.picHistoF, model_.ctx.report.Gate());
    };
    frmInuse_ = new QGroupBox("Fragmented Files", surface_);
    lstInuse_ = new QListWidget(frmInuse_);
    lstValErrs_ = new QListWidget(surface_);
    drvUser_ = new QComboBox(surface_);
    lblCount_ = new QLabel(surface_);
    imgKest_ = new QLabel(surface_);
    QFont small = font();
    small.setPointSize(7);
    lstInuse_->setFont(small);
    lstValErrs_->setFont(small);
    for (QWidget* w : std::initializer_list<QWidget*>{picMap_, picHistoE_, picHistoF_, frmInuse_,
                                                      lblCount_, imgKest_}) {
        w->setFocusPolicy(Qt::NoFocus);
    }
    // The lists and the drive list are reached with Tab and scroll with the keys.
    for (QWidget* w : std::initializer_list<QWidget*>{drvUser_, lstInuse_, lstValErrs_})
        w->setFocusPolicy(Qt::StrongFocus);
    lblCount_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    imgKest_->setPixmap(KestrelPicture(166, 90));
    // The map keeps its size at the least, and the text area some room.
    const double dpr = devicePixelRatioF();
    surface_->setMinimumSize(static_cast<int>(std::ceil(map.Width() / dpr)) + 220,
                             static_cast<int>(std::ceil(map.Height() / dpr)) + 120);
    surface_->installEventFilter(this);
    LayOut();
    BuildMenus();
    BuildCopyAction();

    connect(drvUser_, &QComboBox::activated, this, [this](int index) {
        model_.SelectDrive(index);
        Sync();
    });
    drvUser_->installEventFilter(this);
    host_.refresh = [this](bool now) { Sync(now); };
    host_.raise = [this] {
        // Off screen there is nothing to bring forward.
        if (QGuiApplication::platformName() == "offscreen") return;
        raise();
        activateWindow();
    };
    model_.RunWindow = [this](run::RunContext& c) { OpenRunWindow(c); };
    model_.HexWindow = [this](viewer::HexView& v) { OpenHexWindow(v); };
    resize(width, height + menuBar()->sizeHint().height());
    Sync();
}

KestraWindow::~KestraWindow() {
    host_.refresh = nullptr;
    host_.raise = nullptr;
    model_.RunWindow = nullptr;
    model_.HexWindow = nullptr;
}

void KestraWindow::LayOut() {
    if (layingOut_) return;
    layingOut_ = true;
    run::RunContext& ctx = model_.ctx;
    const double dpr = surface_->devicePixelRatioF();
    layoutRatio_ = dpr;
    const int W = surface_->width();
    const int H = surface_->height();
    const int textScale = std::max(1, static_cast<int>(std::floor(dpr + 0.01)));
    PlaceTextArea(dpr, textScale);
    // The map grows by whole device pixels per canvas pixel once the window
    // has room beyond its first size; it never shrinks below one.
    const int mapW = ctx.map.picMap.Width();
    const int mapH = ctx.map.picMap.Height();
    const double fit =
        std::min(static_cast<double>(W - 300) / mapW, static_cast<double>(H - 300) / mapH);
    const int mapScale = std::max(1, static_cast<int>(std::floor(dpr * fit + 1e-6)));
    picMap_->imageRatio = dpr / mapScale;
    const int shownW = static_cast<int>(std::ceil(mapW * mapScale / dpr));
    const int shownH = static_cast<int>(std::ceil(mapH * mapScale / dpr));
    // The map in the bottom right corner, 2 pixels from the edges.
    const QRect map(W - shownW - 2, H - shownH - 2, shownW, shownH);
    picMap_->setGeometry(map);
    // The frame takes the map's edge and width and ends 4 pixels above it.
    const int frameTop = std::clamp(map.top() - 4 - 60, 40, 130);
    frmInuse_->setGeometry(map.left(), frameTop, shownW, map.top() - 4 - frameTop);
    lstInuse_->setGeometry(6, 16, shownW - 12, frmInuse_->height() - 22);
    lstValErrs_->setGeometry(frmInuse_->geometry());
    // Both charts end 3 pixels left of the map, drawn at the text's scale.
    const int chartW = std::max(1, map.left() - 3 - 4);
    const int chartH = std::max(1, (shownH - 4) / 2);
    picHistoE_->setGeometry(4, map.top(), chartW, chartH);
    picHistoF_->setGeometry(4, map.top() + chartH + 4, chartW, chartH);
    const double chartRatio = dpr / textScale;
    for (display::Canvas* c : {&ctx.PicHistoE.Picture, &ctx.picHistoF.Picture})
        c->Resize(static_cast<int>(std::ceil(chartW * chartRatio)),
                  static_cast<int>(std::ceil(chartH * chartRatio)));
    picHistoE_->imageRatio = chartRatio;
    picHistoF_->imageRatio = chartRatio;
    drvUser_->setGeometry(W - 202, 6, 196, drvUser_->sizeHint().height());
    imgKest_->setGeometry(W - 172, 36, 166, 90);
    layingOut_ = false;
}

void KestraWindow::PlaceTextArea(double dpr, int textScale) {
    // Whole device pixels per canvas pixel: the bitmap font stays sharp at
    // any scaling, a little smaller where the scaling is not whole.
    const double ratio = dpr / textScale;
    surfaceCanvas_.Resize(static_cast<int>(std::ceil(surface_->width() * ratio)),
                          static_cast<int>(std::ceil(surface_->height() * ratio)));
    surfaceCanvas_.BackColor = display::PaletteColor(7);
    surfaceCanvas_.Clear();
    surface_->imageRatio = ratio;
    const report::TextArea& text = model_.ctx.report.Main.Text;
    lblCount_->setGeometry(static_cast<int>(text.lblCountLeft / ratio), static_cast<int>(2 / ratio),
                           text.lblCountWidth, 14);
}

void KestraWindow::BuildCopyAction() {
    // The status text is drawn, not typed: Copy takes all of it.
    auto* copy = new QAction("&Copy", surface_);
    copy->setObjectName("Copy_");
    copy->setShortcut(QKeySequence::Copy);
    copy->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    surface_->addAction(copy);
    surface_->setContextMenuPolicy(Qt::ActionsContextMenu);
    actions_["Copy_"] = copy;
    connect(copy, &QAction::triggered, this, [this] {
        QGuiApplication::clipboard()->setText(QString::fromStdString(model_.TextAreaText()));
    });
}

void KestraWindow::BuildMenus() {
    for (const app::Menu& m : app::MenuTree()) {
        QMenu* menu = menuBar()->addMenu(QString::fromUtf8(m.Caption));
        menu->setObjectName(m.Name);
        menus_[m.Name] = menu;
        for (const app::MenuItem& item : m.Items) {
            QAction* action = std::string(item.Caption) == "-"
                                  ? menu->addSeparator()
                                  : menu->addAction(QString::fromUtf8(item.Caption));
            action->setObjectName(item.Name);
            actions_[item.Name] = action;
            const std::string name = item.Name;
            if (kOptionItems.count(name) || name == "Checksum_") action->setCheckable(true);
            if (!action->isSeparator()) {
                connect(action, &QAction::triggered, this, [this, name] { OnMenu(name); });
            }
        }
    }
    connect(menus_["Drive_"], &QMenu::aboutToShow, this, [this] {
        model_.DisplayReset();
        Sync();
    });
}

void KestraWindow::OnMenu(const std::string& name) {
    if (name == "Scan_") {
        model_.Launch(app::RunCommand::CheckedView);
    } else if (name == "ViewMap_") {
        model_.Launch(app::RunCommand::FastView);
    } else if (name == "Defrag_") {
        model_.Launch(app::RunCommand::Defrag);
    } else if (name == "AddImage_") {
        const QString path = QFileDialog::getOpenFileName(
            this, "Add Image", QString(), "Disk images (*.img *.ima *.bin *.raw);;All files (*)");
        if (!path.isEmpty() && model_.AddImage(path.toStdString()) == 0) {
            QMessageBox::information(this, report::kAppTitle, "No drive letter is free.");
        }
    } else if (name == "RemoveDrive_") {
        model_.RemoveDrive();
    } else if (name == "Exit_") {
        QCoreApplication::exit(0);
        hide();
    } else if (kOptionItems.count(name)) {
        model_.Toggle(kOptionItems.at(name));
    } else if (name == "Hex_") {
        model_.Hex_();
    } else if (name == "Checksum_") {
        model_.RunTool(app::MainWindow::Tool::Checksum);
    } else if (name == "Validate_") {
        model_.RunTool(app::MainWindow::Tool::Validate);
    } else if (name == "TimingD_") {
        model_.RunTool(app::MainWindow::Tool::TimingD);
    } else if (name == "Content_") {
        ShowHelp(app::kHelpContents);
    } else if (name == "About_") {
        QMessageBox::about(this, QString::fromStdString(app::AboutTitle(model_.OsVersion)),
                           QString::fromStdString(app::AboutText()));
    }
    Sync();
}

void KestraWindow::OpenRunWindow(run::RunContext& ctx) {
    RunWindow window(this, ctx);
    const QPoint origin = surface_->mapToGlobal(QPoint(0, 0));
    // 4830 twips across; 42 pixels down, and 90 twips more on a screen whose
    // pixel is not 15 twips high.
    window.move(origin.x() + 4830 / twips_, origin.y() + 42 + (twips_ != 15 ? 90 / twips_ : 0));
    runWindow_ = &window;
    Sync();
    window.exec();
    runWindow_ = nullptr;
    Sync();
}

void KestraWindow::OpenHexWindow(viewer::HexView& view) {
    NTKestHex window(this, view);
    window.help = [this] { ShowHelp(app::kHelpHexView); };
    // 585 twips right of and 570 below the main window's corner.
    window.move(pos() + QPoint(585 / twips_, 570 / twips_));
    hexWindow_ = &window;
    Sync();
    window.exec();
    hexWindow_ = nullptr;
    Sync();
}

void KestraWindow::Sync(bool now) {
    syncing_ = true;
    run::RunContext& ctx = model_.ctx;
    const report::MainControls& controls = ctx.report.Main.Controls;
    if (drvUser_->count() != static_cast<int>(model_.DrvUser.size())) drvUser_->clear();
    for (int i = 0; i < static_cast<int>(model_.DrvUser.size()); ++i) {
        const QString entry = QString::fromStdString(model_.DrvUser[static_cast<size_t>(i)]);
        if (i < drvUser_->count()) {
            drvUser_->setItemText(i, entry);
        } else {
            drvUser_->addItem(entry);
        }
    }
    drvUser_->setCurrentIndex(model_.DrvUserIndex);
    drvUser_->setVisible(!model_.Unattended);
    drvUser_->setEnabled(controls.DrvUser);
    imgKest_->setVisible(model_.imgKestVisible);
    lblCount_->setVisible(ctx.report.Main.Text.lblCountVisible);
    lblCount_->setText(QString::fromStdString(ctx.report.Main.Text.lblCount));
    picHistoE_->setVisible(ctx.PicHistoE.Visible);
    picHistoF_->setVisible(ctx.picHistoF.Visible);
    SyncList(lstInuse_, ctx.lstInuse);
    frmInuse_->setVisible(ctx.frmInuseVisible);
    SyncList(lstValErrs_, model_.lstValErrs);
    lstValErrs_->setVisible(model_.lstValErrsVisible);

    actions_["Pack_"]->setChecked(model_.options.Pack);
    actions_["Review_"]->setChecked(model_.options.ReView);
    actions_["DefragHuge_"]->setChecked(model_.options.DefragHuge);
    actions_["PackHuge_"]->setChecked(model_.options.PackHuge);
    actions_["Checksum_"]->setChecked(model_.ChecksumChecked);
    // Without a drive only adding one, the options and help make sense.
    const bool drive = model_.HasDrive();
    for (const char* name :
         {"Scan_", "ViewMap_", "Defrag_", "RemoveDrive_", "Checksum_", "TimingD_"})
        actions_[name]->setEnabled(drive);
    actions_["Validate_"]->setEnabled(drive && model_.ValidateEnabled);
    actions_["Hex_"]->setEnabled(drive && controls.Hex_);
    menus_["Drive_"]->menuAction()->setEnabled(controls.Drive_);
    menus_["Options_"]->menuAction()->setEnabled(controls.Options_);
    menus_["Tools_"]->menuAction()->setEnabled(controls.Tools_);
    menus_["Help_"]->menuAction()->setEnabled(controls.Help_);

    for (QWidget* w : std::initializer_list<QWidget*>{surface_, picMap_, picHistoE_, picHistoF_})
        Show(w, now);
    if (runWindow_) {
        runWindow_->setWindowTitle(QString::fromStdString(ctx.Caption));
        Show(runWindow_, now);
    }
    syncing_ = false;
}

QAction* KestraWindow::Action(const std::string& name) const {
    const auto it = actions_.find(name);
    return it == actions_.end() ? nullptr : it->second;
}

QMenu* KestraWindow::MenuNamed(const std::string& name) const {
    const auto it = menus_.find(name);
    return it == menus_.end() ? nullptr : it->second;
}

QWidget* KestraWindow::Widget(const std::string& name) const {
    const std::map<std::string, QWidget*> widgets = {
        {"picMap", picMap_},     {"PicHistoE", picHistoE_}, {"picHistoF", picHistoF_},
        {"frmInuse", frmInuse_}, {"lstInuse", lstInuse_},   {"lstValErrs", lstValErrs_},
        {"DrvUser", drvUser_},   {"lblCount", lblCount_},   {"imgKest", imgKest_}};
    const auto it = widgets.find(name);
    return it == widgets.end() ? nullptr : it->second;
}

void KestraWindow::ShowHelp(int context) {
    const QUrl url = HelpUrl(context, InstalledHelpFolder(QCoreApplication::applicationDirPath()));
    // Installed pages open in the user's browser; the viewer shows them
    // when there is no browser, and the built-in copy when nothing is installed.
    if (url.isLocalFile() && QGuiApplication::platformName() != "offscreen" &&
        QDesktopServices::openUrl(url))
        return;
    if (!help_) {
        help_ = new QDialog(this);
        help_->setWindowTitle("Kestra Help");
        help_->resize(520, 420);
        auto* browser = new QTextBrowser(help_);
        browser->setObjectName("browser");
        auto* layout = new QVBoxLayout(help_);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(browser);
    }
    help_->findChild<QTextBrowser*>("browser")->setSource(url);
    help_->show();
    help_->raise();
}

void KestraWindow::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_F1) {
        ShowHelp(model_.HelpContextId);
        return;
    }
    if (event->key() == Qt::Key_Escape) model_.KeyDown(27);
    // Ctrl+E goes nowhere.
    if (!event->text().isEmpty() && !model_.KeyPress(event->text().at(0).unicode())) {
        event->accept();
        return;
    }
    QMainWindow::keyPressEvent(event);
}

void KestraWindow::closeEvent(QCloseEvent* event) {
    if (!model_.QueryClose()) {
        event->ignore();
        Sync(true);
        return;
    }
    event->accept();
    if (help_) help_->close();
    if (runWindow_) QCoreApplication::exit(0);
}

bool KestraWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == surface_ && event->type() == QEvent::Resize) LayOut();
    // Only the user moving to the list counts: focus that comes back with the
    // window (after a run, say) must not wipe the map.
    if (watched == drvUser_ && event->type() == QEvent::FocusIn && !syncing_) {
        const Qt::FocusReason why = static_cast<QFocusEvent*>(event)->reason();
        if (why == Qt::MouseFocusReason || why == Qt::TabFocusReason ||
            why == Qt::BacktabFocusReason || why == Qt::ShortcutFocusReason) {
            model_.DrvUser_GotFocus();
            Sync();
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

}  // namespace kestra::gui
