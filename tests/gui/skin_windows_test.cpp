// The skinned windows without a web engine: image cache, image buttons, the composed
// background, the login stack as one window with its layers and input region, and the
// login window's timer and commands.
#include <gtest/gtest.h>

#include <QApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QCloseEvent>
#include <QPainter>
#include <QSignalSpy>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QTest>
#include <QTimer>

#include <memory>

#include "core/base/message.h"
#include "core/base/resources.h"
#include "core/remind/task_feed.h"
#include "gui/browser/mini_browser.h"
#include "gui/browser/web_context.h"
#include "gui/login/background_wnd.h"
#include "gui/login/login_wnd.h"
#include "gui/login/top_wnd.h"
#include "gui/skin/image_button.h"
#include "gui/skin/image_manager.h"

#include "wait_for.h"
#include "gui_main.h"

namespace {

CWebContext* g_web = nullptr; // made in main, after the application

std::unique_ptr<QImage> Solid(int w, int h, QColor colour)
{
    auto image = std::make_unique<QImage>(w, h, QImage::Format_ARGB32_Premultiplied);
    image->fill(colour);
    return image;
}

// Test image ids, away from the built-in ranges.
constexpr int Red = 1, Green = 2, Blue = 3, Big = 4, Faint = 5, Dot = 6;

class ImageCacheEnvironment : public ::testing::Test {
protected:
    void SetUp() override
    {
        CImageManager& m = CImageManager::GetInstance();
        m.RemoveAll();
        m.AddImage(Red, Solid(32, 32, Qt::red));
        m.AddImage(Green, Solid(32, 32, Qt::green));
        m.AddImage(Blue, Solid(32, 32, Qt::blue));
        m.AddImage(Big, Solid(20, 20, Qt::blue));
        m.AddImage(Faint, Solid(4, 4, QColor(0, 0, 0, 1)));
        auto dot = Solid(32, 32, Qt::transparent); // opaque only in its middle 16 x 16
        QPainter(dot.get()).fillRect(8, 8, 16, 16, Qt::white);
        m.AddImage(Dot, std::move(dot));
    }
    void TearDown() override { CImageManager::GetInstance().RemoveAll(); }
};

using ImageCache = ImageCacheEnvironment;

TEST_F(ImageCache, FirstRegistrationWinsAndUnknownIdsFindNothing)
{
    CImageManager& m = CImageManager::GetInstance();
    const QImage* first = m.FindImage(Red);
    ASSERT_NE(first, nullptr);
    EXPECT_FALSE(m.AddImage(Red, Solid(8, 8, Qt::white)));
    EXPECT_EQ(m.FindImage(Red), first);
    EXPECT_EQ(m.FindImage(Red)->width(), 32);
    for (int id : {0, -1, 2000, 10006}) EXPECT_EQ(m.FindImage(id), nullptr) << id;

    m.RemoveAll();
    m.RemoveAll();
    EXPECT_EQ(m.FindImage(Red), nullptr);
}

TEST_F(ImageCache, UndecodableDataIsRegisteredEmptyAndDrawsNothing)
{
    CImageManager& m = CImageManager::GetInstance();
    EXPECT_TRUE(m.AddImageData(77, QByteArrayView("not an image at all")));
    const QImage* empty = m.FindImage(77);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty->width(), 0);
    EXPECT_EQ(empty->height(), 0);
    EXPECT_FALSE(m.AddImageData(77, QByteArrayView("x")));

    QImage canvas(10, 10, QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::transparent);
    QPainter painter(&canvas);
    DrawImageAt(painter, empty, 0, 0, 10, 10);
    DrawImageAt(painter, nullptr, 0, 0, 10, 10);
    DrawImageAt(painter, m.FindImage(Red), 0, 0, 0, 5);
    DrawImageAt(painter, m.FindImage(Red), 0, 0, -3, -3);
    painter.end();
    EXPECT_EQ(canvas.pixel(0, 0), 0u);
    EXPECT_EQ(canvas.pixel(9, 9), 0u);
}

TEST_F(ImageCache, DrawCopiesTheTopLeftRegionUnscaled)
{
    // Left half red, right half green: a scaled copy would show green inside 4 x 4.
    QImage source(8, 8, QImage::Format_ARGB32_Premultiplied);
    source.fill(Qt::green);
    QPainter(&source).fillRect(0, 0, 4, 8, Qt::red);
    QImage canvas(12, 12, QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::transparent);
    {
        QPainter painter(&canvas);
        DrawImageAt(painter, &source, 2, 3, 4, 4);
        // A region larger than the image draws the image only.
        DrawImageAt(painter, &source, 10, 10, 50, 50);
    }
    EXPECT_EQ(canvas.pixel(2, 3), QColor(Qt::red).rgba());
    EXPECT_EQ(canvas.pixel(5, 6), QColor(Qt::red).rgba());
    EXPECT_EQ(canvas.pixel(6, 3), 0u); // outside the 4 x 4 destination
    EXPECT_EQ(canvas.pixel(1, 3), 0u);
    EXPECT_EQ(canvas.pixel(11, 11), QColor(Qt::red).rgba());
}

TEST(BuiltInImages, EveryResourceInTheRangesIsRegistered)
{
    CImageManager& m = CImageManager::GetInstance();
    m.RemoveAll();
    EXPECT_TRUE(LoadImageResources());
    int found = 0;
    for (int id = 1000; id <= 10010; ++id) {
        const bool inRange = (id >= 1001 && id <= 1199) || (id >= 10001 && id <= 10005);
        const bool carried = qev::FindResource("PNG", id).has_value();
        EXPECT_EQ(m.FindImage(id) != nullptr, inRange && carried) << id;
        if (inRange && carried) {
            ++found;
            EXPECT_FALSE(m.FindImage(id)->isNull()) << "built-in image " << id << " decodes";
        }
    }
    if (const QImage* background = m.FindImage(1001)) {
        EXPECT_EQ(background->size(), QSize(663, 391));
    }
    if (const QImage* digits = m.FindImage(1067)) { // GIF data filed as "PNG"
        EXPECT_EQ(digits->size(), QSize(371, 28));
    }
    RecordProperty("builtInImages", found);
    m.RemoveAll();
}

// A top-level holder so that buttons get real mouse and paint events.
struct ButtonRig {
    QWidget parent;
    CImageButton* button;
    explicit ButtonRig(const qev::ButtonItem& item)
    {
        parent.resize(100, 100);
        button = new CImageButton(item, &parent);
        parent.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&parent));
    }
};

qev::ButtonItem Item(int normal, int hover, int pressed, int action)
{
    return qev::ButtonItem{10, 10, 42, 42, normal, hover, pressed, action, 0};
}

using Buttons = ImageCacheEnvironment;

TEST_F(Buttons, HoverRepaintsOnlyWhenItChanges)
{
    ButtonRig rig(Item(Red, Green, Blue, 1001));
    CImageButton* b = rig.button;
    EXPECT_EQ(b->geometry(), QRect(10, 10, 32, 32));
    EXPECT_EQ(b->commandId(), 33769);
    EXPECT_EQ(b->CurrentImage(), Red);

    QTest::mouseMove(&rig.parent, QPoint(20, 20));
    QApplication::processEvents();
    EXPECT_TRUE(b->hovered());
    EXPECT_EQ(b->CurrentImage(), Green);
    const int afterEntry = b->paintCount();

    for (QPoint p : {QPoint(22, 22), QPoint(30, 25), QPoint(35, 35)})
        QTest::mouseMove(&rig.parent, p);
    QApplication::processEvents();
    EXPECT_EQ(b->paintCount(), afterEntry) << "moves inside the button repaint nothing";

    QTest::mouseMove(&rig.parent, QPoint(80, 80));
    QApplication::processEvents();
    EXPECT_FALSE(b->hovered());
    EXPECT_EQ(b->CurrentImage(), Red);
    EXPECT_GT(b->paintCount(), afterEntry) << "leaving repaints with the normal image";
}

TEST_F(Buttons, CompletedClickSendsTheCommandReleaseOutsideSendsNothing)
{
    ButtonRig rig(Item(Red, Green, Blue, 1002));
    CImageButton* b = rig.button;
    QSignalSpy commands(b, &CImageButton::command);

    QTest::mousePress(b, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_EQ(b->CurrentImage(), Blue);
    QTest::mouseRelease(b, Qt::LeftButton, {}, QPoint(6, 6));
    ASSERT_EQ(commands.count(), 1);
    EXPECT_EQ(commands.at(0).at(0).toInt(), 33770);

    QTest::mousePress(b, Qt::LeftButton, {}, QPoint(5, 5));
    QTest::mouseMove(b, QPoint(60, 60));
    QTest::mouseRelease(b, Qt::LeftButton, {}, QPoint(60, 60));
    EXPECT_EQ(commands.count(), 1);
    EXPECT_FALSE(b->isDown());
    EXPECT_NE(b->CurrentImage(), Blue);
}

TEST_F(Buttons, SameImageInEveryStateStillClicksAndDisabledShowsItsImage)
{
    ButtonRig rig(Item(Red, Red, Red, 0));
    CImageButton* b = rig.button;
    EXPECT_EQ(b->commandId(), 32768);
    QSignalSpy commands(b, &CImageButton::command);
    QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(3, 3));
    EXPECT_EQ(commands.count(), 1);

    b->SetImages({/*normal*/ Red, /*pressed*/ Blue, /*hover*/ Green, /*focus*/ Red,
                  /*disabled*/ Big});
    b->setEnabled(false);
    QTest::mouseMove(&rig.parent, QPoint(20, 20));
    QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(3, 3));
    EXPECT_EQ(b->CurrentImage(), Big);
    EXPECT_EQ(commands.count(), 1);

    // Larger than its image: the image at the top-left, the rest see-through.
    const QImage shot = b->grab().toImage();
    EXPECT_EQ(shot.pixelColor(0, 0), QColor(Qt::blue));
    EXPECT_EQ(shot.pixelColor(19, 19), QColor(Qt::blue));
    EXPECT_EQ(shot.pixelColor(25, 25).alpha(), 0);
}

TEST_F(Buttons, HoverIdZeroShowsNothingWhileHovered)
{
    ButtonRig rig(Item(Red, 0, Red, -1));
    EXPECT_EQ(rig.button->commandId(), 32767);
    QTest::mouseMove(&rig.parent, QPoint(20, 20));
    QApplication::processEvents();
    EXPECT_EQ(rig.button->CurrentImage(), 0);
    EXPECT_EQ(rig.button->grab().toImage().pixelColor(5, 5).alpha(), 0);
}

// The layout state the windows are handed, with its current game rebuilt for each test.
qev::LayoutState g_layout;

qev::GameEntry& ResetGame()
{
    g_layout.layout.games.clear();
    qev::GameEntry& game = g_layout.layout.games["Test"];
    g_layout.SelectGame("Test");
    return game;
}

class Owner : public QWidget {
public:
    int closeRequests = 0;

protected:
    void closeEvent(QCloseEvent* event) override
    {
        ++closeRequests;
        event->ignore();
    }
};

using Background = ImageCacheEnvironment;

TEST_F(Background, SpritesComposedOnceByLayerWithMissingImageSkipped)
{
    qev::GameEntry& game = ResetGame();
    game.login.width = 60;
    game.login.height = 40;
    game.login.sprites = {
        {0, 0, Red, 2},    // red 32 x 32, top layer
        {20, 20, Big, 1},  // blue 20 x 20, partly under the red
        {0, 0, 9999, 3},   // not in the cache
        {40, 0, Faint, 0}, // alpha 1: visible to input
    };
    Owner owner;
    CBackgroundWnd background(g_layout);
    QObject::connect(&background, &CLayeredWnd::closeRequested, &owner, &QWidget::close);
    EXPECT_EQ(background.size(), QSize(60, 40));
    ASSERT_EQ(background.sprites().size(), 4u);
    EXPECT_EQ(background.sprites().front().layer, 0);
    EXPECT_EQ(background.sprites().back().image, 9999);

    const QImage& picture = background.composed();
    EXPECT_EQ(picture.format(), QImage::Format_ARGB32_Premultiplied);
    EXPECT_EQ(picture.pixelColor(10, 10), QColor(Qt::red)) << "higher layer covers lower";
    EXPECT_EQ(picture.pixelColor(25, 25), QColor(Qt::red));
    EXPECT_EQ(picture.pixelColor(35, 35), QColor(Qt::blue));
    EXPECT_EQ(picture.pixelColor(50, 30).alpha(), 0);

    const QRegion mask = background.mask();
    EXPECT_TRUE(mask.contains(QPoint(10, 10)));
    EXPECT_TRUE(mask.contains(QPoint(35, 35)));
    EXPECT_TRUE(mask.contains(QPoint(41, 1))) << "any alpha above 0 takes input";
    EXPECT_FALSE(mask.contains(QPoint(50, 30))) << "a transparent pixel is click-through";
    EXPECT_FALSE(mask.contains(QPoint(35, 5)));
    EXPECT_EQ(mask, OpaqueRegion(picture));
}

TEST_F(Background, SystemCloseBecomesACloseRequestToTheOwner)
{
    qev::GameEntry& game = ResetGame();
    game.login.width = 32;
    game.login.height = 32;
    game.login.sprites = {{0, 0, Red, 0}};
    Owner owner;
    CBackgroundWnd background(g_layout);
    QObject::connect(&background, &CLayeredWnd::closeRequested, &owner, &QWidget::close);
    background.show();
    background.RequestClose();
    EXPECT_TRUE(background.isVisible());
    EXPECT_EQ(owner.closeRequests, 0) << "queued, not nested";
    QApplication::processEvents();
    EXPECT_EQ(owner.closeRequests, 1);
}

// The main frame ends the program with a quit, which first closes every window: the
// background must let that close through or the quit is cancelled (and asked for again).
class QuittingOwner : public QWidget {
public:
    int closes = 0;

protected:
    void closeEvent(QCloseEvent* event) override
    {
        ++closes;
        event->accept();
        QApplication::quit();
    }
};

TEST_F(Background, ApplicationQuitIsNotRefused)
{
    qev::GameEntry& game = ResetGame();
    game.login.width = 32;
    game.login.height = 32;
    game.login.sprites = {{0, 0, Red, 0}};
    QuittingOwner owner;
    CBackgroundWnd background(g_layout);
    QObject::connect(&background, &CLayeredWnd::closeRequested, &owner, &QWidget::close);
    background.show();
    QTimer::singleShot(0, &owner, [&owner] { owner.close(); });
    QTimer::singleShot(3000, [] { QCoreApplication::exit(1); }); // watchdog
    EXPECT_EQ(QApplication::exec(), 0);
    EXPECT_EQ(owner.closes, 1);
}

TEST_F(Background, NoGameLeavesAnUnpaintedWindow)
{
    g_layout.layout.games.clear();
    g_layout.currentGameName.clear();
    CBackgroundWnd background(g_layout);
    EXPECT_TRUE(background.sprites().empty());
    EXPECT_TRUE(background.composed().isNull());
    background.RequestClose(); // no owner: nothing to ask, nothing breaks
}

using TopLayer = ImageCacheEnvironment;

TEST_F(TopLayer, ButtonsFromTheLayoutAndAMaskOfTheirRectangles)
{
    qev::GameEntry& game = ResetGame();
    game.login.width = 200;
    game.login.height = 100;
    game.login.buttons = {{150, 10, 182, 42, Red, Green, Red, 1001, 0},
                          {160, 50, 192, 82, Blue, Blue, Blue, 1002, 0},
                          {10, 50, 42, 82, Dot, Dot, Dot, 1004, 0},
                          {60, 50, 92, 82, 900, 901, 902, 1005, 0}};
    CTopWnd top(nullptr, g_layout);
    EXPECT_EQ(top.size(), QSize(200, 100));
    ASSERT_EQ(top.buttons().size(), 4u);
    EXPECT_EQ(top.buttons()[0]->commandId(), CTopWnd::MinimizeCommand);
    EXPECT_EQ(top.buttons()[1]->commandId(), CTopWnd::CloseCommand);
    EXPECT_EQ(top.buttons()[1]->geometry(), QRect(160, 50, 32, 32));
    const QRegion mask = top.mask();
    EXPECT_TRUE(mask.contains(QPoint(151, 11)));
    EXPECT_TRUE(mask.contains(QPoint(191, 81)));
    EXPECT_FALSE(mask.contains(QPoint(5, 5)));
    EXPECT_FALSE(mask.contains(QPoint(155, 45)));
    // Transparent pixels of a button image pass clicks through, as a colour key would.
    EXPECT_TRUE(mask.contains(QPoint(10 + 8, 50 + 8)));
    EXPECT_TRUE(mask.contains(QPoint(10 + 23, 50 + 23)));
    EXPECT_FALSE(mask.contains(QPoint(10 + 2, 50 + 2)));
    EXPECT_FALSE(mask.contains(QPoint(10 + 28, 50 + 20)));
    // A button without any cached image keeps its whole rectangle.
    EXPECT_TRUE(mask.contains(QPoint(60, 50)));
    EXPECT_TRUE(mask.contains(QPoint(91, 81)));

    top.BuildControls(); // rebuilding replaces, never doubles
    EXPECT_EQ(top.buttons().size(), 4u);
    EXPECT_EQ(top.findChildren<CImageButton*>().size(), 4);

    g_layout.layout.games.clear();
    g_layout.currentGameName.clear();
    top.BuildControls();
    EXPECT_TRUE(top.buttons().empty());
    EXPECT_FALSE(top.mask().contains(QPoint(151, 11))) << "no children: nothing takes input";
    EXPECT_FALSE(top.mask().isEmpty()) << "an empty mask would take every click";
}

// The login stack as the application builds it: one window, two layers over it.
struct StackRig {
    StackRig()
    {
        QObject::connect(&background, &CLayeredWnd::closeRequested, &owner, &QWidget::close);
    }
    Owner owner;
    CBackgroundWnd background{g_layout};
    CLoginWnd* login = new CLoginWnd(&background, g_layout, *g_web);
    CTopWnd* top = new CTopWnd(&background, g_layout);
};

qev::WebPane PaneWithoutBrowser(int left, int top, int right, int bottom)
{
    qev::WebPane pane;
    pane.left = left;
    pane.top = top;
    pane.right = right;
    pane.bottom = bottom;
    pane.flag = 2; // even: no browser, so no web engine in this test
    pane.function = "login";
    return pane;
}

using Stack = ImageCacheEnvironment;

TEST_F(Stack, LayersAreChildrenOfOneWindowInOrderAndCoverIt)
{
    qev::GameEntry& game = ResetGame();
    game.login.width = 120;
    game.login.height = 80;
    game.login.sprites = {{0, 0, Red, 0}};
    game.login.buttons = {{80, 0, 112, 32, Red, Green, Red, 1001, 0}};
    StackRig rig;
    EXPECT_TRUE(rig.background.isWindow());
    EXPECT_FALSE(rig.login->isWindow());
    EXPECT_FALSE(rig.top->isWindow());
    EXPECT_EQ(rig.login->window(), &rig.background);
    EXPECT_EQ(rig.top->window(), &rig.background);
    EXPECT_EQ(rig.login->geometry(), QRect(0, 0, 120, 80));
    EXPECT_EQ(rig.top->geometry(), QRect(0, 0, 120, 80));
    // Background, then the page layer, then the buttons above it.
    const QObjectList& children = rig.background.children();
    EXPECT_LT(children.indexOf(rig.login), children.indexOf(rig.top));
    EXPECT_TRUE(rig.background.testAttribute(Qt::WA_TranslucentBackground));
    EXPECT_TRUE(rig.background.windowFlags() & Qt::FramelessWindowHint);

    // Shown, hidden, moved and minimised as one.
    rig.background.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&rig.background));
    EXPECT_TRUE(rig.login->isVisible());
    EXPECT_TRUE(rig.top->isVisible());
    rig.background.move(300, 200);
    EXPECT_EQ(rig.top->mapToGlobal(QPoint(0, 0)), QPoint(300, 200));
    EXPECT_EQ(rig.login->mapToGlobal(QPoint(0, 0)), QPoint(300, 200));
    rig.background.hide();
    EXPECT_FALSE(rig.login->isVisible());
    EXPECT_FALSE(rig.top->isVisible());
    rig.background.show();
    EXPECT_TRUE(rig.top->isVisible());

    const auto minimisedFrom = [&rig](auto* layer) {
        rig.background.showNormal();
        QApplication::processEvents();
        layer->OnCommand(CTopWnd::MinimizeCommand);
        QApplication::processEvents();
        return rig.background.isMinimized();
    };
    EXPECT_TRUE(minimisedFrom(rig.top));
    EXPECT_TRUE(minimisedFrom(rig.login)) << "the page layer's minimise goes the same way";
    rig.background.showNormal();
    QApplication::processEvents();

    // Centring centres the one window.
    rig.login->CenterWindow();
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_LE((rig.background.frameGeometry().center() - screen.center()).manhattanLength(), 2);
}

TEST_F(Stack, InputRegionIsTheVisiblePixelsPlusTheLayersInputRegions)
{
    qev::GameEntry& game = ResetGame();
    game.login.width = 200;
    game.login.height = 100;
    game.login.sprites = {{0, 0, Red, 0}}; // visible 0..31 x 0..31 only
    game.login.webPanes = {PaneWithoutBrowser(40, 40, 100, 90)};
    game.login.buttons = {{150, 10, 182, 42, Dot, Dot, Dot, 1004, 0}}; // visible 158..173
    StackRig rig;
    // A pane without a browser has no host: give the page layer a child the size of a pane.
    auto* page = new QWidget(rig.login);
    page->setGeometry(40, 40, 60, 50);
    page->show();
    rig.login->UpdateInputMask();

    const QRegion region = rig.background.inputRegion();
    EXPECT_EQ(rig.background.mask(), region);
    struct Case {
        QPoint at;
        bool takesInput;
        const char* what;
    } cases[] = {
        {{5, 5}, true, "background pixel"},
        {{31, 31}, true, "last background pixel"},
        {{32, 5}, false, "transparent background"},
        {{40, 40}, true, "pane of the page layer"},
        {{99, 89}, true, "pane corner"},
        {{100, 89}, false, "right of the pane"},
        {{160, 20}, true, "visible pixel of a button"},
        {{151, 11}, false, "transparent pixel of a button"},
        {{190, 95}, false, "nothing there"},
    };
    for (const Case& c : cases) EXPECT_EQ(region.contains(c.at), c.takesInput) << c.what;

    // Clicks reach the topmost layer that takes input there, else the window itself.
    rig.background.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&rig.background));
    EXPECT_EQ(rig.background.childAt(160, 20), rig.top->buttons()[0]);
    EXPECT_EQ(rig.background.childAt(50, 50), page) << "through the button layer to the page";
    EXPECT_EQ(rig.background.childAt(5, 5), nullptr) << "the background itself: a drag";

    // A layer's region changing reaches the window: the page goes, its rectangle with it.
    page->hide();
    rig.login->UpdateInputMask();
    EXPECT_FALSE(rig.background.inputRegion().contains(QPoint(50, 50)));
    EXPECT_TRUE(rig.background.inputRegion().contains(QPoint(160, 20)));
    // A hidden layer takes nothing.
    rig.top->hide();
    rig.background.UpdateInputMask();
    EXPECT_FALSE(rig.background.inputRegion().contains(QPoint(160, 20)));
    EXPECT_TRUE(rig.background.inputRegion().contains(QPoint(5, 5)));
}

TEST_F(Stack, DragOnAVisiblePixelMovesTheWindowButtonsClickWithoutMoving)
{
    qev::GameEntry& game = ResetGame();
    game.login.width = 120;
    game.login.height = 80;
    game.login.sprites = {{0, 0, Red, 0}, {32, 0, Green, 0}, {64, 0, Blue, 0}};
    game.login.buttons = {{80, 40, 112, 72, Red, Green, Red, 1002, 0}};
    StackRig rig;
    rig.background.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&rig.background));
    rig.background.move(100, 100);
    QApplication::processEvents();

    // No window manager here, so the mouse delta moves it.
    QTest::mousePress(&rig.background, Qt::LeftButton, {}, QPoint(5, 5));
    QTest::mouseMove(&rig.background, QPoint(25, 15));
    QTest::mouseRelease(&rig.background, Qt::LeftButton, {}, QPoint(25, 15));
    QApplication::processEvents();
    EXPECT_EQ(rig.background.pos(), QPoint(120, 110));
    EXPECT_EQ(rig.top->mapToGlobal(QPoint(0, 0)), QPoint(120, 110));
    QTest::mouseMove(&rig.background, QPoint(60, 60)); // released: no longer dragging
    EXPECT_EQ(rig.background.pos(), QPoint(120, 110));

    // The close button: one close request to the owner, the window stays where it is.
    CImageButton* close = rig.top->buttons()[0];
    QTest::mouseClick(close, Qt::LeftButton, {}, QPoint(10, 10));
    QApplication::processEvents();
    EXPECT_EQ(rig.owner.closeRequests, 1);
    EXPECT_EQ(rig.background.pos(), QPoint(120, 110));
    EXPECT_TRUE(rig.background.isVisible());
    rig.login->OnCommand(CTopWnd::CloseCommand);
    QApplication::processEvents();
    EXPECT_EQ(rig.owner.closeRequests, 2) << "the page layer's close goes the same way";
}

TEST(LoginWindow, ConnectivityCheckedOnceTwoSecondsAfterCreation)
{
    ResetGame();
    // Timers are measured, not raced: a loaded machine may run them late, never early
    // (a coarse timer may fire up to 5 % early, plus rounding).
    constexpr qint64 EarliestMs = 1800;
    QElapsedTimer clock;
    std::vector<std::string> shown;
    qint64 shownAt = -1;
    auto previous = qev::SetMessageHandler(
        [&shown, &shownAt, &clock](const std::string& text, const std::string&, int) {
            shown.push_back(text);
            shownAt = clock.elapsed();
            return qev::IdOk;
        });
    int probes = 0;
    qint64 probedAt = -1;
    bool online = false;
    const auto probe = [&] {
        ++probes;
        probedAt = clock.elapsed();
        return online;
    };
    {
        clock.start();
        CLoginWnd login(nullptr, g_layout, *g_web);
        login.SetConnectivityProbe(probe);
        ASSERT_TRUE(WaitFor([&] { return shown.size() == 1u; }, 6000));
        EXPECT_EQ(shown[0], "Internet Connect Failed");
        EXPECT_GE(shownAt, EarliestMs) << "not before 2 s";
        QTest::qWait(2200);
        EXPECT_EQ(shown.size(), 1u) << "no repetition";
        EXPECT_EQ(probes, 1);
    }
    online = true;
    {
        clock.start();
        CLoginWnd login(nullptr, g_layout, *g_web);
        login.SetConnectivityProbe(probe);
        ASSERT_TRUE(WaitFor([&] { return probes == 2; }, 6000));
        EXPECT_GE(probedAt, EarliestMs);
        QTest::qWait(100);
        EXPECT_EQ(shown.size(), 1u) << "online: nothing to say";
    }
    qev::SetMessageHandler(previous);
}

TEST(LoginWindow, PanesWithoutBrowserAndLoginCompletionQuery)
{
    qev::GameEntry& game = ResetGame();
    game.login.width = 300;
    game.login.height = 200;
    qev::WebPane pane;
    pane.left = 10;
    pane.top = 20;
    pane.right = 110;
    pane.bottom = 120;
    pane.flag = 2; // even: no browser
    pane.function = "login";
    game.login.webPanes = {pane};
    CLoginWnd login(nullptr, g_layout, *g_web);
    ASSERT_EQ(login.panes().size(), 1u);
    EXPECT_EQ(login.panes()[0].host, nullptr);
    EXPECT_EQ(login.nextControlId(), CLoginWnd::FirstControlId);
    EXPECT_EQ(login.size(), QSize(300, 200));
    login.RefreshPanes(qev::OperatorSites({})); // a pane without a host is skipped

    std::vector<std::string> queries; // the task-feed query of each login reported
    QObject::connect(&login, &CLoginWnd::loggedIn, [&queries](const qev::SessionInfo& session) {
        queries.push_back(qev::TaskFeedQuery(session));
    });
    login.OnSession({"Server 1", "http://127.0.0.1:1/game", "d 1", "s&x", ""});
    ASSERT_EQ(queries.size(), 1u);
    EXPECT_EQ(queries[0], "?account=&sid=s&x&domain=d 1");
}

} // namespace

int qev::test::RunTests(const std::function<int()>& run)
{
    CWebContext web; // off the record
    g_web = &web;
    return run();
}
