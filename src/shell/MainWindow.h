#pragma once

#include "apps/AppProfile.h"
#include "apps/SettingsFile.h"
#include "colour/ReadingsProfile.h"
#include "cycle/FramePaint.h"
#include "cycle/OwnWindowArea.h"
#include "display/ShownLabel.h"
#include "platform/Desktop.h"
#include "preview/ExposureOverlay.h"
#include "scopes/ChangedSpans.h"
#include "scopes/HeldReference.h"
#include "scopes/VectorscopePlot.h"
#include "scopes/WaveformMath.h"

#include <QFont>
#include <QHash>
#include <QList>
#include <QMainWindow>
#include <QMap>
#include <QPoint>
#include <QPointer>
#include <QSize>
#include <QString>

#include <array>
#include <memory>
#include <opencv2/core.hpp>
#include <string>
#include <vector>

class QAction;
class QComboBox;
class QGridLayout;
class QLineEdit;
class QEvent;
class QLabel;
class QSettings;
class QSpinBox;
class QTextEdit;
class QTimer;
class QToolBar;
class QClickLabel;
class QExposureLegend;
class QSelectRegionWindow;
class ScreenService;

// "Vectorscope", "Waveform" or "Parade": display mode 0, 1 or 2.
const char* displayModeName(int displayMode);

// Tests specialise this (one specialisation per test file) to read private state.
template <typename Tag> struct MainWindowProbe;

// The tool window and the owner of all the program's state. Its behaviour is
// split by subsystem over several source files: construction and window
// behaviours in shell/; the refresh cycle, the scopes it draws, the held
// reference and the program's own windows on the frame in cycle/; the
// preview's exposure view in preview/; the palette, the plot's harmony picks
// and their swatches in palette/; recognition, configuration and the
// settings dialog in apps/; readings with the monitor's profile undone in
// colour/; region selection in capture/. The image arithmetic it calls is
// in scopes/ (the scopes), display/ (the labels' pictures), palette/,
// preview/, colour/ and imagefile/ (picture files).
class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    MainWindow(QWidget* parent, bool debugMode, int skipUpdateScreen);
    ~MainWindow() override;

    void fitToolBar();
    void layoutSliders();
    // Fits the window to its contents. Qt's own adjustSize keeps a window
    // within two thirds of the screen height, which on a screen 900 pixels
    // high cut the window below the scope and let the preview cover the
    // bottom of the plot with the S and L bars; this one never cuts it.
    void fitToContents();

public slots:
    void updateScreen();
    void startOrStop();
    void selectRegion();
    void exitApp();
    void alwaysOnTopTrigger();
    void showPreviewTrigger();
    void settingsTrigger();
    void helpTrigger();
    void displayTrigger();
    void findColors();
    void rectSelected();
    void dragWindowStarted();
    void dragWindowEnded();
    void dragWindowMove();
    void plotClicked();
    void plotReleased();
    void plotMoved();
    void adjustWindowSize();
    void cancelSettings();
    void useSettings();
    void saturationClicked();
    void saturationReset();
    void saturationReleased();
    void saturationMoved();
    void lightnessClicked();
    void lightnessReset();
    void lightnessReleased();
    void lightnessMoved();
    void copyColor0();
    void copyColor1();
    void copyColor2();
    void copyColor3();
    void startSampleColor();
    void updateApplicationData();
    void zoomTrigger();
    void referenceTrigger();
    void exposureTrigger();

protected:
    void enterEvent(QEvent* event) override;

private:
    template <typename Tag> friend struct MainWindowProbe;

    void log(const char* text) const;

    // --- shell/ -----------------------------------------------------------
    bool debugMode;
    int skipUpdateScreen;
    ScreenService* screenService = nullptr;
    SettingsFile* settings = nullptr;
    QString configDir;
    int windowSize = 400;
    double scopeRadius = 150.0;
    bool capturing = false;
    bool alwaysOnTop = false;
    bool previewHidden = false;
    int displayMode = 0;
    // The byte sum of the last frame. Frames of the same sum may differ (a
    // red screen turned blue): the change test compares the bytes.
    quint32 frameSum = 0;
    // How many changed frames the cycle has seen: which frame is which.
    quint64 frameCount = 0;
    int lastPlotHeight = 0;
    bool dragging = false;
    QPoint dragOrigin;
    // Where the pointer (desktop coordinates) and the window were at the press.
    QPoint dragPointerStart;
    QPoint dragWindowStart;
    float saturation = 0.75f;
    float lightness = 0.5f;
    int sliderLength = 185;
    int swatchSize = 20;
    bool colorsShown = false;

    QToolBar* toolBar = nullptr;
    QAction* startAction = nullptr;
    QAction* alwaysOnTopAction = nullptr;
    QAction* displayAction = nullptr;
    QAction* previewAction = nullptr;
    QAction* helpAction = nullptr;
    QWidget* toolBarSpacer = nullptr;
    QClickLabel* moveHandle = nullptr;
    QClickLabel* plotLabel = nullptr;
    QLabel* previewLabel = nullptr;
    QLabel* infoLabel = nullptr;
    QLabel* appLabel = nullptr;
    std::array<QClickLabel*, 4> colorSwatches {};
    QClickLabel* saturationSlider = nullptr;
    QLabel* saturationBar = nullptr;
    QLabel* saturationText = nullptr;
    QClickLabel* lightnessSlider = nullptr;
    QLabel* lightnessBar = nullptr;
    QLabel* lightnessText = nullptr;
    QTimer* updateTimer = nullptr;
    QTimer* resizeTimer = nullptr;

    // Keyboard shortcuts (Shortcuts.cpp): actions on the window, not on the toolbar.
    void addShortcuts();
    void findAndShowColors();

    // --- cycle/: a still screen rests (CycleRest.cpp) --------------------
    // After a cycle that changed nothing and read nothing new, the timer
    // stops while the desktop watches for a change of what the cycle reads
    // there, and the program's own windows for input, resizes, moves,
    // showing and hiding; the first of them runs a cycle at once and starts
    // the timer again. So a still screen costs nothing, and every cycle
    // still shows what the repeating one would.
    struct CycleInputs {
        platform::Rect captured;
        platform::Point pointer;
        bool pointerKnown = false;
        QString app;
        std::string title;
        std::string windowClass;
        std::string executable;
        int mode = 0;
        int zoom = 1;
        const uchar* reference = nullptr; // the held frame's buffer; null: none held
        int exposure = 0;
        bool granted = false;
        QString problem;
        int windowSize = 0;
        quint64 ownChanges = 0;
    };
    void setUpCycleRest();
    // First in the destructor: the window's own closing sends events that
    // must not reach a window half taken apart.
    void endCycleRest();
    // The cycle's last step: rests when `pictureStill` (the capture kept
    // last cycle's bytes and no picture changed) and nothing it read
    // differs from the last cycle's.
    void restIfStill(bool pictureStill, const platform::Rect& captured, const platform::Point& pointer);
    // Something the cycle reads may have changed: a resting cycle wakes.
    void cycleMayHaveChanged();
    bool restAllowed() const;
    void wakeCycle();
    QObject* ownEventsWatch = nullptr;
    CycleInputs lastCycleInputs;
    bool lastCycleKnown = false;
    bool cycleResting = false;
    int stillCycles = 0; // cycles in a row that changed nothing
    bool wakePosted = false;
    quint64 ownChanges = 0; // input and other events of our own windows seen

    // --- cycle/: the refresh cycle and the scopes ------------------------
    // updateScreen's steps, in their order: recognition, then these.
    struct CycleCapture {
        int monitorIndex = 0;
        platform::Rect captured; // the rectangle the capture read, desktop pixels
        float scale = 0.0f; // frame pixels per desktop pixel
        bool sameCapture = false; // the capture kept last cycle's bytes
    };
    // What the copy of a capture into frameImage found.
    struct FrameChange {
        bool bytesChanged = false;
        cv::Range changedRows { 0, 0 }; // the rows whose bytes changed
        cv::Range unshadedRows { 0, 0 }; // where last cycle's darkening of our own windows came off
        cv::Range unpaintedRows { 0, 0 }; // where last cycle's hover highlight came off
        quint32 sum = 0;
    };
    CycleCapture captureRegion();
    FrameChange copyFrame(const CycleCapture& capture);
    // `pointer` is where the desktop said the pointer is.
    cv::Point pointerOnFrame(const CycleCapture& capture, platform::Point& pointer) const;
    bool countFrame(const FrameChange& change, bool analysedChanged, bool ownWindowsMoved, bool readingsChanged);
    // Returns whether any row of the preview changed.
    bool showPreview(const FrameChange& change, bool ownWindowsMoved);
    void fitToPlot();

    void drawVectorscope(bool frameChanged, int cursorX, int cursorY);
    void drawWaveform(bool frameChanged, int cursorX, int cursorY, bool parade);
    void generateBackground(int width, int height, double radius);
    // The vectorscope's scale (1, 2 or 4), kept in "vectorscope_zoom"; the
    // toolbar action shows it.
    void showZoom();
    int vectorscopeZoom = 1;
    QAction* zoomAction = nullptr;
    static void hsvToRgb(double h, double s, double v, double& r, double& g, double& b);

    // A scope held as a reference, one per display mode (H, or a picture
    // file from the settings dialog): the frame it was made of, as the
    // scopes read it, and its layer for the size and scale last drawn, made
    // again when either changes. Nothing of it runs while none is held.
    struct HeldScope {
        cv::Mat frame; // B, G, R, A; empty: none held
        scopes::ReferenceLayer layer;
        int layerSize = 0;
        int layerZoom = 0;
    };
    std::array<HeldScope, 3> heldScopes;
    QAction* referenceAction = nullptr;
    QPointer<QLabel> referenceStatusLabel; // in the settings dialog
    bool referenceHeld() const { return !heldScopes[static_cast<size_t>(displayMode)].frame.empty(); }
    void drawHeldReference();
    void showReferenceAction();
    int addReferenceSettings(QGridLayout* grid, int row);
    void chooseReferenceImage();
    // Holds the picture file `file` as the reference of the mode shown;
    // false, with the reason in the settings dialog, when it cannot be read.
    bool holdReferenceImage(const QString& file);

    cv::Mat backgroundImage; // R, G, B
    cv::Mat scopeImage; // R, G, B
    cv::Mat captureImage; // B, G, R, A
    cv::Mat frameImage; // B, G, R, A
    cv::Mat scopeCache; // R, G, B
    cv::Mat colorImage; // H degrees, S, V as float; read it through analysedColorImage()

    // Reused from cycle to cycle, so that a cycle allocates nothing once the sizes are stable.
    scopes::VectorscopePlotter vectorscopePlotter; // the plot of a new frame
    scopes::WaveformBuffers waveformBuffers; // the Waveform and the Parade
    cv::Mat scopeRgbBytes; // the analysed frame as R, G, B bytes, for the colour image
    cv::Mat scopeRgbFloat; // the analysed frame as R, G, B in [0, 1], for the colour image
    // The frame (frameCount) that scopeCache and colorImage show: frames
    // that changed while the Waveform or Parade was up still count as new here.
    quint64 vectorscopeFrame = 0;
    bool vectorscopeCurrent = false;
    // The colour image costs as much as the plot itself and only the hover
    // highlight and the colour search read it: it is made when first read,
    // from the plotter's own copy of the frame it counted.
    const cv::Mat& analysedColorImage();
    bool colorImageStale = false;
    // The preview pixels the hover highlight paints, while neither the
    // analysed frame nor the pointed hue and saturation change.
    std::vector<int> highlightedPixels;
    bool highlightCurrent = false;
    float highlightHue = 0.0f;
    double highlightSaturation = -1.0;
    // What the plot and preview labels paint, repainted only where it
    // changed: the scope picture in the plot's own buffer, and the frame
    // (or its exposure view) itself in the preview.
    std::unique_ptr<display::ShownLabel> plotView;
    std::unique_ptr<display::ShownLabel> previewView;
    // The hover highlight painted on the frame, taken off again before the
    // next cycle's copy compares the frame with the new capture.
    scopes::FramePaint framePaint;
    // Where this cycle's scope picture may differ from the last one's: the
    // part of the shown picture to bring up to date.
    scopes::ChangedSpans scopeChanged;
    // The vectorscope's picture is the cached plot with the overlays drawn
    // on it. While scopeImage still holds the one it was made of (this
    // buffer, this cache), a cycle brings back from the cache only what the
    // plotter changed and what the overlays covered (overlaySpans).
    scopes::ChangedSpans overlaySpans;
    const uchar* plotImageData = nullptr;
    const uchar* plotCacheData = nullptr;
    bool scopeImageHoldsPlot = false;
    // What the overlays on scopeImage were drawn from. The same plot with
    // the same overlays needs nothing brought back or drawn again (drawing
    // an anti-aliased line twice would not even give the same bytes).
    struct OverlayInputs {
        int cursorX = -1;
        int cursorY = -1;
        std::vector<float> dominantHues;
        double selectedHue = -1.0;
        double hueSpread = -1000.0;
        bool operator==(const OverlayInputs& o) const
        {
            return cursorX == o.cursorX && cursorY == o.cursorY && dominantHues == o.dominantHues
                && selectedHue == o.selectedHue && hueSpread == o.hueSpread;
        }
    };
    OverlayInputs overlaysDrawnFrom;
    bool drawHarmonyLines = true; // false: updateHarmonySwatches() sets the swatches only
    void drawPointerMarker(int cursorX, int cursorY);
    // The info label's text: the cycle's report, or a message, which is
    // wrapped where it does not fit on one line. The label is held at the
    // size its text needs, measured once per text, so that a new text of the
    // same size (the cycle's time changes every few cycles) does not send
    // the window's layout to measure its labels again.
    void showInfo(const QString& text, bool message = true);
    // Places the info label beside the application's name, or a message
    // that does not fit there under it: again whenever the name or the
    // window's width changed.
    void placeInfo();
    void placeSettingsNotice();
    static constexpr int kInfoMargin = 6; // around the info label's and the name's text
    const QString& cycleInfoText(long long milliseconds);
    struct CycleInfo {
        long long milliseconds = -1;
        int zoom = 0;
        int mode = -1;
        bool reference = false;
        QString text;
    };
    CycleInfo cycleInfo; // what the last cycle's report was made from
    // Where a text goes: its label's size, wrapped or not, under the name or not.
    struct InfoPlace {
        QSize size;
        bool wrapped = false;
        int top = 0; // the top margin: below the name when it is under it
    };
    // What the places were measured for: the font, the width of the window
    // inside its border, the size of the name.
    struct InfoRoom {
        QFont font;
        int width = 0;
        QSize name;
        bool operator==(const InfoRoom& o) const { return font == o.font && width == o.width && name == o.name; }
    };
    InfoPlace measureInfo(const InfoRoom& room, bool message);
    bool infoIsMessage = true;
    QHash<QString, InfoPlace> infoPlaces;
    InfoRoom infoRoom;

    // --- preview/: the exposure view of the preview ----------------------
    // Off, clipping or false colour, kept in "exposure_overlay". Only the
    // preview shows it: it paints a copy of the frame, which the scopes,
    // the hover highlight and the colour search never read.
    void loadExposureSetting();
    void showExposureLegend();
    // The cycle's step: the picture the preview shows (the frame itself
    // while the view is off), painted again where the capture changed
    // (`changedRows`) and where the hover highlight was or is. It widens
    // `rows`, the preview's rows to repaint, by what it painted besides.
    const cv::Mat& previewPicture(const cv::Range& changedRows, cv::Range& rows);
    scopes::ExposureMode exposureMode = scopes::ExposureMode::Off;
    scopes::ExposurePainter exposurePainter;
    cv::Mat exposureFrame; // B, G, R, A: the frame as the view paints it, the hover highlight on it
    bool exposureCurrent = false; // false: paint every row at the next cycle
    scopes::FramePaint exposurePaint; // the hover highlight on exposureFrame
    QExposureLegend* exposureLegend = nullptr;

    // --- cycle/: the program's own windows, never measured ----------------
    // Where this program's shown windows lie on the frame that shows
    // `captured`; makes the frame the scopes read when they do, and then
    // `frameChanged` (the captured frame's bytes changed) says whether that
    // one did. Returns whether the area moved, which changes what the scopes
    // analyse.
    bool leaveOutOwnWindows(const platform::Rect& captured, bool& frameChanged);
    bool leavingOutOwnWindows() const;
    // The preview's step: the own windows' area shown darkened.
    void darkenOwnWindows();

    scopes::OwnWindowArea ownWindowArea;
    cv::Mat ownWindowsLeftOut; // the scopes' frame with that area black
    cv::Mat ownWindowsBlackened; // the next one, compared with it
    scopes::FrameShade ownWindowShade; // the darkening, taken off before the next copy
    std::vector<platform::Rect> ownWindowFrames; // desktop pixels; reused from cycle to cycle

    // --- palette/: plot interaction and colour harmony -------------------
    void updateHarmonySwatches();
    void showSwatch(int index, double hue, const cv::Point& endPoint);

    double selectedHue = -1.0;
    double hueSpread = -1000.0;
    float hoverHue = 0.0f;
    double hoverSaturation = -1.0;
    double hoverX = -1.0;
    double hoverY = -1.0;
    bool plotDragging = false;
    int plotDragButton = 0;
    bool saturationDragging = false;
    bool lightnessDragging = false;

    // --- palette/ --------------------------------------------------------
    static std::vector<float> clusterHues(int k, const std::vector<float>& samples, int iterations,
        int candidatesPerSeed, float* cost, std::vector<float>* counts);

    std::vector<float> dominantHues; // empty until the first colour search
    int dominantHueCount = 0;
    std::unique_ptr<QClickLabel> sampleLabel; // top-level picture of monitor 0, replaced by each sampling
    qreal samplePixelRatio = 1.0; // monitor pixels per logical pixel of sampleLabel
    void sampleClicked();
    void endSampleColor();

    // --- apps/: recognition and configuration ----------------------------
    void recognizeApplication(bool allowUnknown);
    void readExecutablePath(platform::WindowHandle window);
    void parseApps(const QString& text);
    void loadRegions();
    void storeCaptureTarget(int monitorIndex, const platform::Rect& rect);
    bool isOwnWindow(platform::WindowHandle window) const;
    void readForegroundWindow(platform::WindowHandle window);

    // --- capture/: access to the screen where the desktop asks first -----
    void requestCapture();
    void captureAccessChanged();

    bool captureGranted = true; // false until the desktop lets the program read the screen
    QString captureProblem; // what the info overlay shows instead of the cycle time; empty when all is well
    bool regionAfterGrant = false; // "Select region" waits for the grant
    void showCurrentApp();
    QString storedCaptureRecord(const QString& key, const QString& fallbackKey = QString()) const;
    void setCaptureTarget(const QString& name, const QString& record);
    // A settings write that failed is said once in the window (and why in the
    // debug log) until a later write succeeds.
    void watchSettingsFile();
    void settingsNotSaved(const QString& reason);
    void settingsSaved();

    QString currentApp = QStringLiteral("unknown");
    QString previousApp;
    std::string foregroundTitle;
    std::string foregroundClass;
    std::string foregroundExecutable;
    QList<AppProfile> appProfiles;
    QMap<QString, QString> builtinApps; // id -> display name
    QMap<QString, std::array<int, 4>> appRegions; // left, top, right, bottom
    QMap<QString, int> appAdapters;
    QPointer<QLabel> settingsNotice; // shown while settings cannot be saved

    // --- apps/: settings dialog ------------------------------------------
    // The dialog deletes itself on close; the guarded pointers then read null.
    QPointer<QMainWindow> settingsWindow;
    QPointer<QSpinBox> windowSizeSpin;
    QPointer<QTextEdit> appsEdit;
    QPointer<QLabel> classLabel;
    QPointer<QLabel> titleLabel;
    QPointer<QLabel> executableLabel;
    QPointer<QTimer> appInfoTimer;

    // --- colour/: readings with the monitor's profile undone -------------
    // The scopes, the hover highlight, the colour search and the colour
    // sample read the frame through scopeFrame(): the captured bytes, or
    // while the monitor's profile is undone, their sRGB values; the preview
    // always shows the captured bytes.
    const cv::Mat& scopeFrame() const;
    // The same before the program's own windows are left out of it.
    const cv::Mat& capturedReadings() const;
    void loadReadingsSettings();
    // Refreshes the profile and converts a new frame; true when the readings
    // changed without the frame changing (the scopes must be redone).
    bool convertReadings(int monitorIndex, bool newFrame);
    // One captured pixel (0xAARRGGBB) as the readings give it, for monitor `monitor`.
    unsigned int readingOfPixel(unsigned int argb, int monitor);
    int addReadingsSettings(QGridLayout* grid, int row);
    void useReadingsSettings();
    void showReadingsStatus();
    void chooseProfileFile();

    std::unique_ptr<scopes::ReadingsProfile> readings;
    bool readingsStale = false;
    cv::Mat readingFrame; // B, G, R, A in sRGB, while readings->active()
    int readingsMonitor = 0; // the monitor the cycle captured last
    QPointer<QComboBox> readingsCombo;
    QPointer<QLineEdit> profileFileEdit;
    QPointer<QLabel> profileStatusLabel;

    // --- capture/: region selection --------------------------------------
    // The open region window; it deletes itself when it closes, and this reads null then.
    QPointer<QSelectRegionWindow> regionWindow;

    platform::Desktop& desktop;
};
