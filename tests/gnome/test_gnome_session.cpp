// The real program on the headless GNOME 43 desktop of with-gnome.sh, with
// Huelens' shell extension enabled: a window of one colour fills the screen,
// the program shares the screen through GNOME's portal with a grant the
// permission store already holds, shows that colour in its preview, keeps
// the grant for the next start, recognises the window in front through the
// extension, and never gives up on the desktop's dialog early.
#include "gnome/GnomeEndToEnd.h"

using namespace gnome_e2e;

namespace {

// The program's preview shows the colour window's colour over the whole
// stored region, 400 x 200 pixels within the program's window and its
// border. The program's window lies over the colour window, so only its
// preview can show that colour there, and only in a band that high.
bool previewShowsTheWindowColour()
{
    QRect window;
    int rows = 0;
    const bool shown = QTest::qWaitFor(
        [&] {
            window = frame(kProgramTitle);
            rows = rowsWithRun(screenshot(), window, kWindowColour, 396);
            return rows >= 196 && rows <= 204;
        },
        10000);
    if (!shown)
        qWarning("%d rows in the program's window at (%d, %d, %d x %d) show the colour", rows, window.x(), window.y(),
            window.width(), window.height());
    return shown;
}

} // namespace

class GnomeSessionTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QVERIFY2(!stackDir().isEmpty(), "run through tests/gnome/with-gnome.sh");
        QVERIFY(prepareShell());
        startColourWindow(colourWindow);
        QVERIFY(QTest::qWaitFor([] { return focused(kWindowTitle); }, 20000));
    }
    void cleanupTestCase()
    {
        colourWindow.kill();
        colourWindow.waitForFinished();
    }

    // Capture through the portal with a grant seeded in the permission store
    // (as the user's "Share" leaves one): no dialog, and the preview shows the
    // window's colour, pixel for pixel, over the stored region. The portal's
    // token is kept for the next start.
    void capturesTheScreenWithAKeptGrant()
    {
        QVERIFY(seedGrant(QStringLiteral("0f0f0f0f-1111-2222-3333-444444444444")));
        Program program(
            QStringLiteral("first"), kRegionConfig + "screencast_token=0f0f0f0f-1111-2222-3333-444444444444\n");
        QVERIFY(program.start());
        QVERIFY(program.pressStart());
        QVERIFY2(program.waitForCycles(5), program.log().right(300).constData());
        QVERIFY(windows(QStringLiteral("Screen Share")).isEmpty());

        QVERIFY(previewShowsTheWindowColour());
        QVERIFY(QTest::qWaitFor([&] { return program.stored("screencast_token").size() > 8; }, 5000));
        token = program.stored("screencast_token");
    }

    // The next start shares the screen with the kept token and no dialog:
    // nobody answers one here, so a dialog would hold capture up.
    void restartRestoresWithoutADialog()
    {
        QVERIFY(!token.isEmpty());
        Program program(QStringLiteral("second"), kRegionConfig + "screencast_token=" + token.toUtf8() + "\n");
        QVERIFY(program.start());
        QVERIFY(program.pressStart());
        QVERIFY2(program.waitForCycles(5, 10000), program.log().right(300).constData());
        QVERIFY(windows(QStringLiteral("Screen Share")).isEmpty());
        QVERIFY(previewShowsTheWindowColour());
    }

    // With the extension enabled, a rule on the window's class names the
    // application while that window is in front, as on X11; the program's
    // own window in front changes nothing.
    void recognisesTheWindowInFront()
    {
        QVERIFY(!token.isEmpty());
        Program program(QStringLiteral("rule"),
            "[General]\napps=Grader:" + kWindowClass.toUtf8()
                + "\nUnknown=0|760|400|1160|600\nscreencast_token=" + token.toUtf8() + "\n");
        QVERIFY(program.start());
        QVERIFY(program.pressStart());
        QVERIFY(program.waitForCycles(3));
        QCOMPARE(title(kProgramTitle), kProgramTitle + "Unknown");
        QVERIFY(focus(kWindowTitle));
        QVERIFY2(QTest::qWaitFor([] { return title(kProgramTitle) == kProgramTitle + "Grader"; }, 10000),
            qPrintable(title(kProgramTitle)));
        QVERIFY(focus(kProgramTitle));
        const int cycles = program.cycles();
        QVERIFY(program.waitForCycles(cycles + 5));
        QCOMPARE(title(kProgramTitle), kProgramTitle + "Grader");
    }

    // Without a grant the desktop asks in its dialog, and the program waits
    // for the answer, long: GNOME 43's portal crashes when a client abandons
    // its open dialog. A program that quits takes the question with it (the
    // portal then crashes all the same, its own fault); the desktop starts
    // the portal again, and the next program shares the screen.
    void waitsForTheDialogAndThePortalOutlivesAQuit()
    {
        const uint portal = ownerPid(kPortalBackend);
        QVERIFY(portal != 0);
        {
            Program program(QStringLiteral("asking"), kRegionConfig);
            QVERIFY(program.start());
            QVERIFY(program.pressStart());
            QVERIFY(QTest::qWaitFor([] { return !windows(QStringLiteral("Screen Share")).isEmpty(); }, 10000));
            QTest::qWait(8000);
            QCOMPARE(program.lastMessage(), QByteArray("Asking for permission to share the screen..."));
            QCOMPARE(ownerPid(kPortalBackend), portal);
            QVERIFY(!windows(QStringLiteral("Screen Share")).isEmpty());
            QCOMPARE(program.cycles(), 0);
        }

        // The portal answers again once its back-end is back (the session's
        // bus starts it on the first call to it).
        QVERIFY(QTest::qWaitFor(
            [] {
                return run({ "gdbus", "introspect", "--session", "--dest", kPortalBackend, "--object-path",
                               "/org/freedesktop/portal/desktop" },
                    5000)
                    .contains(QLatin1String("org.freedesktop.impl.portal.ScreenCast"));
            },
            20000));
        QVERIFY(seedGrant(QStringLiteral("0f0f0f0f-5555-6666-7777-888888888888")));
        Program next(
            QStringLiteral("after"), kRegionConfig + "screencast_token=0f0f0f0f-5555-6666-7777-888888888888\n");
        QVERIFY(next.start());
        QVERIFY(next.pressStart());
        QVERIFY2(next.waitForCycles(5), next.log().right(300).constData());
        QVERIFY(previewShowsTheWindowColour());
        if (ownerPid(kPortalBackend) != portal)
            qInfo("xdg-desktop-portal-gnome was started again after the program quit with its dialog open");
    }

private:
    QProcess colourWindow;
    QString token;
};

QTEST_GUILESS_MAIN(GnomeSessionTest)
#include "test_gnome_session.moc"
