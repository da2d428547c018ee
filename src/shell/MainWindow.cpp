#include "shell/MainWindow.h"

#include "apps/SettingsFile.h"
#include "capture/QClickLabel.h"
#include "capture/ScreenService.h"
#include "scopes/VectorscopeMath.h"
#include "shell/Images.h"
#include "shell/Log.h"
#include "shell/PlainText.h"
#include "shell/QExposureLegend.h"

#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QGridLayout>
#include <QImage>
#include <QLabel>
#include <QSettings>
#include <QStandardPaths>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>

#include <algorithm>

namespace {

QString configurationDirectory()
{
    const QStringList locations = QStandardPaths::standardLocations(QStandardPaths::AppDataLocation);
    if (!locations.isEmpty() && !locations.first().isEmpty())
        return locations.first();
    return QCoreApplication::applicationDirPath();
}

} // namespace

static int clampedWindowSize(int stored)
{
    if (stored == 0)
        return 400;
    return std::clamp(stored, 150, 600);
}

// The narrowest window whose toolbar has room for the scale button (it needs
// about 270 pixels; below that it pushed Exit into an overflow menu).
constexpr int kZoomButtonWindowSize = 300;
// The narrowest window whose toolbar has room for the reference button
// beside the others (below it, Exit went into an overflow menu).
constexpr int kReferenceButtonWindowSize = 270;

// "1", "2" or "4"; anything else (a hand-edited file, a scale this version
// does not know) reads as 1x.
static int storedZoom(const QVariant& stored)
{
    bool ok = false;
    const int zoom = stored.toString().trimmed().toInt(&ok);
    return ok ? scopes::validZoom(zoom) : 1;
}

MainWindow::MainWindow(QWidget* parent, bool debugMode, int skipUpdateScreen)
    : QMainWindow(parent)
    , debugMode(debugMode)
    , skipUpdateScreen(skipUpdateScreen)
    , desktop(platform::desktop())
{
    log("MainWindow created");
    if (skipUpdateScreen != 2)
        screenService = new ScreenService(debugMode, desktop);
    log("ScreenShot created");

    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setWindowIcon(QIcon(QStringLiteral(":/icon.png")));
    setWindowFlags(Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::FramelessWindowHint);

    configDir = configurationDirectory();
    QDir().mkpath(configDir);
    settings = openSettingsFile(configDir + QStringLiteral("/config.ini"));
    watchSettingsFile();
    settings->sync();

    parseApps(settings->value(QStringLiteral("apps"), QString()).toString());
    log("Configuration parsed");

    setAttribute(Qt::WA_MouseTracking);

    loadRegions();
    log("Adapters set");

    windowSize = clampedWindowSize(settings->value(QStringLiteral("window_size"), 400).toInt());
    scopeRadius = (windowSize / 2) * 0.75;
    vectorscopeZoom = storedZoom(settings->value(QStringLiteral("vectorscope_zoom")));
    capturing = false;
    loadReadingsSettings();

    auto* central = new QWidget(this);
    central->setMinimumSize(10, 10);
    setSizePolicy(QSizePolicy::Minimum, QSizePolicy::Minimum);
    auto* centralLayout = new QVBoxLayout(central);
    centralLayout->setContentsMargins(0, 0, 0, 0);
    setCentralWidget(central);
    setFixedWidth(windowSize);
    log("Window set");

    moveHandle = new QClickLabel();
    moveHandle->setObjectName(QStringLiteral("moveHandle"));
    moveHandle->setPixmap(imagePixmap(QStringLiteral("images/move.png")));
    moveHandle->setToolTip(QStringLiteral("Move window"));

    previewHidden = !settings->value(QStringLiteral("preview_enabled"), true).toBool();

    toolBar = new QToolBar(this);
    toolBar->setObjectName(QStringLiteral("toolBar"));
    toolBar->setContentsMargins(0, 0, 0, 0);
    startAction = toolBar->addAction(imageIcon(QStringLiteral("images/start.png")), QStringLiteral("Start capturing..."));
    QAction* selectRegionAction =
        toolBar->addAction(imageIcon(QStringLiteral("images/select_region.png")), QStringLiteral("Select region"));
    alwaysOnTopAction =
        toolBar->addAction(imageIcon(QStringLiteral("images/always_on_top.png")), QStringLiteral("Always on top"));
    displayAction = toolBar->addAction(imageIcon(QStringLiteral("images/display.png")),
                                       QStringLiteral("Display: Vectorscope, Waveform, Parade"));
    referenceAction = toolBar->addAction(imageIcon(QStringLiteral("images/reference.png")), QString());
    referenceAction->setObjectName(QStringLiteral("referenceAction"));
    connect(referenceAction, &QAction::triggered, this, &MainWindow::referenceTrigger);
    showReferenceAction();
    previewAction = previewHidden
        ? toolBar->addAction(imageIcon(QStringLiteral("images/preview.png")), QStringLiteral("Show preview"))
        : toolBar->addAction(imageIcon(QStringLiteral("images/disable_preview.png")), QStringLiteral("Hide preview"));
    QAction* settingsAction = toolBar->addAction(imageIcon(QStringLiteral("images/settings.png")), QStringLiteral("Settings"));
    helpAction = toolBar->addAction(imageIcon(QStringLiteral("images/help.png")), QStringLiteral("Help"));
    connect(helpAction, &QAction::triggered, this, &MainWindow::helpTrigger);
    // After the other buttons, so Exit keeps the right end. Text only: the
    // button reads the scale ("2×").
    zoomAction = toolBar->addAction(QString());
    zoomAction->setObjectName(QStringLiteral("zoomAction"));
    connect(zoomAction, &QAction::triggered, this, &MainWindow::zoomTrigger);
    showZoom();
    log("GUI prepare 1");
    setStyleSheet(QStringLiteral("QMainWindow{border: 1px solid black;}"));
    setContentsMargins(1, 1, 1, 1);
    // Made with its parent: a parentless widget made visible is a window of
    // its own, which flashed on screen and which a window manager could make
    // the active window just while the start-up recognition read it. The
    // same holds for the preview label below.
    toolBarSpacer = new QWidget(toolBar);
    toolBarSpacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    toolBarSpacer->setVisible(true);
    toolBarSpacer->setMinimumSize(0, 0);
    toolBar->addWidget(toolBarSpacer);
    toolBar->addWidget(moveHandle);
    QAction* exitAction = toolBar->addAction(imageIcon(QStringLiteral("images/close.png")), QStringLiteral("Exit"));
    log("GUI prepare 2");

    connect(startAction, &QAction::triggered, this, &MainWindow::startOrStop);
    connect(selectRegionAction, &QAction::triggered, this, &MainWindow::selectRegion);
    connect(alwaysOnTopAction, &QAction::triggered, this, &MainWindow::alwaysOnTopTrigger);
    connect(displayAction, &QAction::triggered, this, &MainWindow::displayTrigger);
    connect(previewAction, &QAction::triggered, this, &MainWindow::showPreviewTrigger);
    connect(settingsAction, &QAction::triggered, this, &MainWindow::settingsTrigger);
    connect(exitAction, &QAction::triggered, this, &MainWindow::exitApp);
    connect(moveHandle, &QClickLabel::clicked, this, &MainWindow::dragWindowStarted);
    connect(moveHandle, &QClickLabel::released, this, &MainWindow::dragWindowEnded);
    connect(moveHandle, &QClickLabel::moved, this, &MainWindow::dragWindowMove);
    log("GUI connected 1");

    auto* scopeArea = new QWidget(central);
    scopeArea->setContentsMargins(0, 0, 0, 0);
    scopeArea->setMinimumSize(10, 10);
    auto* scopeLayout = new QGridLayout(scopeArea);
    scopeLayout->setContentsMargins(0, 0, 0, 0);
    scopeLayout->setSpacing(0);
    scopeLayout->setVerticalSpacing(0);
    scopeLayout->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    updateTimer = new QTimer(this);
    resizeTimer = new QTimer(this);
    connect(updateTimer, &QTimer::timeout, this, &MainWindow::updateScreen);
    connect(resizeTimer, &QTimer::timeout, this, &MainWindow::adjustWindowSize);
    setUpCycleRest();
    log("GUI connected 2");

    generateBackground(windowSize, windowSize, scopeRadius);
    log("BG generated");

    plotLabel = new QClickLabel();
    plotLabel->setObjectName(QStringLiteral("plotLabel"));
    plotLabel->setContentsMargins(0, 0, 0, 0);
    plotLabel->setPixmap(QPixmap::fromImage(QImage(backgroundImage.data, backgroundImage.cols, backgroundImage.rows,
                                                   static_cast<int>(backgroundImage.cols * 3), QImage::Format_RGB888)));
    connect(plotLabel, &QClickLabel::clicked, this, &MainWindow::plotClicked);
    connect(plotLabel, &QClickLabel::released, this, &MainWindow::plotReleased);
    connect(plotLabel, &QClickLabel::moved, this, &MainWindow::plotMoved);

    centralLayout->setSpacing(0);
    centralLayout->addWidget(toolBar);
    centralLayout->addWidget(scopeArea);
    currentApp = QStringLiteral("unknown");
    log("GUI prepared 3");

    // Made with its parent, as it is made visible before the layout takes it.
    previewLabel = plainLabel(QString(), scopeArea);
    previewLabel->setObjectName(QStringLiteral("previewLabel"));
    previewLabel->setContentsMargins(0, 0, 0, 0);
    previewLabel->setStyleSheet(QStringLiteral("background-color:#888;"));
    previewLabel->setMinimumSize(10, static_cast<int>(windowSize * 0.5));
    previewLabel->setVisible(!previewHidden);
    plotView = std::make_unique<display::ShownLabel>(plotLabel);
    previewView = std::make_unique<display::ShownLabel>(previewLabel);

    infoLabel = plainLabel();
    infoLabel->setObjectName(QStringLiteral("infoLabel"));
    appLabel = plainLabel();
    appLabel->setObjectName(QStringLiteral("appLabel"));
    for (QLabel* overlay : {infoLabel, appLabel}) {
        overlay->setContentsMargins(kInfoMargin, kInfoMargin, kInfoMargin, 0);
        overlay->setStyleSheet(QStringLiteral("QLabel{color:white;}"));
    }

    scopeLayout->addWidget(plotLabel, 0, 0, Qt::AlignLeft | Qt::AlignTop);
    scopeLayout->addWidget(previewLabel, 1, 0);
    exposureLegend = new QExposureLegend(scopeArea);
    exposureLegend->setObjectName(QStringLiteral("exposureLegend"));
    scopeLayout->addWidget(exposureLegend, 2, 0);
    loadExposureSetting();
    // Over the plot's top-left corner, outside the layout: a message wrapped
    // on more lines than the plot has rows runs on over the preview rather
    // than making the window taller.
    infoLabel->setParent(scopeArea);
    infoLabel->move(0, 0);
    scopeLayout->addWidget(appLabel, 0, 0, Qt::AlignRight | Qt::AlignTop);
    infoLabel->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    appLabel->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    appLabel->setText(currentApp);

    appRegions[QStringLiteral("unknown")] = {-1, -1, -1, -1};
    appAdapters[QStringLiteral("unknown")] = 0;
    const QString radiusText = QString::number(swatchSize / 2);
    log("GUI prepared 5");

    const std::array<void (MainWindow::*)(), 4> copySlots{&MainWindow::copyColor0, &MainWindow::copyColor1,
                                                          &MainWindow::copyColor2, &MainWindow::copyColor3};
    for (int i = 0; i < 4; ++i) {
        auto* swatch = new QClickLabel(plotLabel);
        swatch->setObjectName(QStringLiteral("colorSwatch%1").arg(i));
        swatch->resize(swatchSize, swatchSize);
        swatch->setStyleSheet(QStringLiteral("background-color:red;border-radius:") + radiusText + QStringLiteral("px;"));
        swatch->hide();
        connect(swatch, &QClickLabel::clicked, this, copySlots[i]);
        colorSwatches[i] = swatch;
    }

    colorsShown = false;
    sliderLength = windowSize / 2 - 15;
    log("GUI prepared 6");

    auto makeControl = [this](const QString& name, const QString& text, QLabel*& bar, QLabel*& label) {
        auto* control = new QClickLabel(plotLabel);
        control->setObjectName(name);
        control->setStyleSheet(QStringLiteral("border: 1px solid #888;"));
        control->hide();
        bar = plainLabel(QString(), control);
        bar->move(1, 1);
        bar->setStyleSheet(QStringLiteral("border:0;background-color:#666;"));
        label = plainLabel(QString(), control);
        label->move(0, 0);
        label->setText(text);
        label->setStyleSheet(QStringLiteral("border: 1px solid #888;border:0;color:#FFF;"));
        return control;
    };
    saturationSlider = makeControl(QStringLiteral("saturationSlider"), QStringLiteral(" S: 0.75"), saturationBar, saturationText);
    connect(saturationSlider, &QClickLabel::clicked, this, &MainWindow::saturationClicked);
    connect(saturationSlider, &QClickLabel::dblclicked, this, &MainWindow::saturationReset);
    connect(saturationSlider, &QClickLabel::released, this, &MainWindow::saturationReleased);
    connect(saturationSlider, &QClickLabel::moved, this, &MainWindow::saturationMoved);
    lightnessSlider = makeControl(QStringLiteral("lightnessSlider"), QStringLiteral(" L: 0.5"), lightnessBar, lightnessText);
    connect(lightnessSlider, &QClickLabel::clicked, this, &MainWindow::lightnessClicked);
    connect(lightnessSlider, &QClickLabel::dblclicked, this, &MainWindow::lightnessReset);
    connect(lightnessSlider, &QClickLabel::released, this, &MainWindow::lightnessReleased);
    connect(lightnessSlider, &QClickLabel::moved, this, &MainWindow::lightnessMoved);
    log("GUI prepared 6");

    layoutSliders();
    log("Sliders updated");
    fitToolBar();
    log("Size optimized");

    recognizeApplication(true);
    log("APP detected");

    captureGranted = desktop.captureAccess().granted;

    addShortcuts();
}

MainWindow::~MainWindow()
{
    endCycleRest();
    // The labels' pixmaps may be our own buffers, which go before the labels do.
    plotLabel->clear();
    previewLabel->clear();
    delete screenService;
    delete settings;
}

void MainWindow::log(const char* text) const
{
    if (debugMode)
        writeLog(QString::fromLatin1(text));
}

void MainWindow::fitToolBar()
{
    const bool large = windowSize >= 200;
    helpAction->setVisible(large);
    // The scale button reads its scale as text and shows only where the
    // toolbar has room for it beside Exit; Z works at any size, and so
    // does H where the reference button is left out.
    zoomAction->setVisible(windowSize >= kZoomButtonWindowSize);
    referenceAction->setVisible(windowSize >= kReferenceButtonWindowSize);
    toolBar->setFixedHeight(large ? 24 : 18);
    toolBar->setIconSize(large ? QSize(16, 16) : QSize(14, 14));
}

void MainWindow::layoutSliders()
{
    sliderLength = windowSize / 2 - 15;
    saturationSlider->setFixedSize(sliderLength, 10);
    saturationSlider->move(10, windowSize - 15);
    saturationBar->setFixedSize(static_cast<int>(static_cast<float>(sliderLength) * saturation), 8);
    saturationText->setFixedSize(sliderLength, 10);
    lightnessSlider->setFixedSize(sliderLength, 10);
    lightnessSlider->move(windowSize - sliderLength - 10, windowSize - 15);
    lightnessBar->setFixedSize(static_cast<int>(static_cast<float>(sliderLength) * lightness), 8);
    lightnessText->setFixedSize(sliderLength, 10);
}
