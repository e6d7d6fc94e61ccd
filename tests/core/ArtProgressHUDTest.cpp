#include "core/AppStyle.h"
#include "core/ArtHUDView.h"
#include "core/ArtProgressHUD.h"
#include "core/HUDPresenting.h"
#include "core/KWLangManager.h"
#include "core/LGNLocalizedString.h"
#include "fakes/ScreenShot.h"
#include "fakes/VirtualTime.h"

#include <QApplication>
#include <QDir>
#include <QFontInfo>
#include <QImage>
#include <QLabel>
#include <QMouseEvent>
#include <QPointer>
#include <QPropertyAnimation>
#include <QScreen>
#include <QWidget>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include <memory>

namespace {

class HudCaller : public HUDPresenting { };

class ArtProgressHUDTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        host_ = std::make_unique<QWidget>();
        host_->setGeometry(200, 150, 800, 500);
        host_->show();
        ArtProgressHUD::configure(time_, [this] { return host_.get(); });
    }
    void TearDown() override
    {
        ArtProgressHUD::dismissLoading();
        finishFades();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        ArtProgressHUD::configure(time_, {});
    }
    // Runs every HUD window's fade to its end at once.
    static void finishFades()
    {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (auto* hud = dynamic_cast<ArtHUDView*>(w)) {
                QPropertyAnimation* fade = hud->fadeAnimation();
                if (fade->state() != QAbstractAnimation::Stopped)
                    fade->setCurrentTime(fade->totalDuration());
            }
        }
    }
    static void press(QWidget* target, QPoint local, Qt::MouseButton button = Qt::LeftButton)
    {
        QMouseEvent event(QEvent::MouseButtonPress, QPointF(local), QPointF(target->mapToGlobal(local)), button,
            button, Qt::NoModifier);
        QApplication::sendEvent(target, &event);
    }

    fakes::VirtualTime time_;
    std::unique_ptr<QWidget> host_;
};

TEST_F(ArtProgressHUDTest, EachKindShowsItsOwnViews)
{
    struct Case {
        quint64 type;
        const char* image;
        bool icon, tip, onlyTip, spinner;
    };
    const Case cases[] = {
        { ArtProgressHUD::kInfo, "MLHudAlertInfo", true, true, false, false },
        { ArtProgressHUD::kWarning, "MLHudAlertWarn", true, true, false, false },
        { ArtProgressHUD::kError, "MLHudAlertError", true, true, false, false },
        { ArtProgressHUD::kSuccess, "MLHudAlertSuccess", true, true, false, false },
        { ArtProgressHUD::kLoading, "", false, false, false, true },
        { ArtProgressHUD::kTextOnly, "", false, false, true, false },
        { 9, "", true, true, false, false }, // unknown kinds look like the icon kinds, without an image
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.type);
        ArtProgressHUD::showText(QStringLiteral("note"), c.type, nullptr);
        ArtProgressHUD* hud = ArtProgressHUD::shared();
        ASSERT_NE(hud, nullptr);
        EXPECT_EQ(hud->alertType(), c.type);
        EXPECT_EQ(hud->iconImageName(), QLatin1String(c.image));
        EXPECT_EQ(hud->iconImageView()->isVisible(), c.icon);
        EXPECT_EQ(hud->tipTextField()->isVisible(), c.tip);
        EXPECT_EQ(hud->onlyTipTextField()->isVisible(), c.onlyTip);
        EXPECT_EQ(hud->loadingIndicator()->isVisible(), c.spinner);
        EXPECT_EQ(hud->tipTextField()->text(), QStringLiteral("note"));
        EXPECT_EQ(hud->onlyTipTextField()->text(), QStringLiteral("note"));
        EXPECT_TRUE(hud->window()->isVisible());
        EXPECT_EQ(hud->window()->focusPolicy(), Qt::NoFocus);
        EXPECT_TRUE(hud->window()->testAttribute(Qt::WA_ShowWithoutActivating));
    }
}

TEST_F(ArtProgressHUDTest, ShortcutsPickTheirKinds)
{
    HudCaller caller;
    caller.art_showInfoText(QStringLiteral("a"));
    EXPECT_EQ(ArtProgressHUD::shared()->alertType(), ArtProgressHUD::kInfo);
    caller.art_showErrorText(QStringLiteral("b"));
    EXPECT_EQ(ArtProgressHUD::shared()->alertType(), ArtProgressHUD::kError);
    caller.art_showSuccessText(QStringLiteral("c"));
    EXPECT_EQ(ArtProgressHUD::shared()->alertType(), ArtProgressHUD::kSuccess);
    caller.art_showText(QStringLiteral("d"));
    EXPECT_EQ(ArtProgressHUD::shared()->alertType(), ArtProgressHUD::kTextOnly);
    caller.art_showLoading();
    EXPECT_EQ(ArtProgressHUD::shared()->alertType(), ArtProgressHUD::kLoading);
    caller.art_dismissLoading();
    EXPECT_EQ(ArtProgressHUD::shared(), nullptr);
}

TEST_F(ArtProgressHUDTest, FadesInToItsAlphaAndOutBeforeItCloses)
{
    ArtProgressHUD::showInfoText(QStringLiteral("fading"));
    QPointer<ArtProgressHUD> hud = ArtProgressHUD::shared();
    ArtHUDView* window = hud->window();
    QPropertyAnimation* fade = window->fadeAnimation();
    // Shown at nothing and animated, not put up at once.
    EXPECT_TRUE(window->isVisible());
    EXPECT_DOUBLE_EQ(window->alphaValue(), 0.0);
    ASSERT_EQ(fade->state(), QAbstractAnimation::Running);
    EXPECT_EQ(fade->propertyName(), QByteArray("opacity"));
    EXPECT_EQ(fade->duration(), ArtHUDView::kFadeMilliseconds);
    EXPECT_DOUBLE_EQ(fade->startValue().toDouble(), 0.0);
    EXPECT_DOUBLE_EQ(fade->endValue().toDouble(), ArtProgressHUD::kAlpha);
    const struct {
        int ms;
        double alpha;
    } fadeIn[] = { { 0, 0.0 }, { 125, 0.43 }, { 250, 0.86 } };
    for (const auto& step : fadeIn) {
        fade->setCurrentTime(step.ms);
        EXPECT_NEAR(window->alphaValue(), step.alpha, 1e-6) << step.ms << " ms";
    }
    EXPECT_EQ(fade->state(), QAbstractAnimation::Stopped);

    // The timer ends it: a new show would already get a new HUD, while this
    // one fades out from where it was and closes only at the end.
    time_.advance(ArtProgressHUD::kDismissSeconds);
    EXPECT_EQ(ArtProgressHUD::shared(), nullptr);
    ASSERT_EQ(fade->state(), QAbstractAnimation::Running);
    EXPECT_DOUBLE_EQ(fade->endValue().toDouble(), 0.0);
    fade->setCurrentTime(125);
    EXPECT_NEAR(window->alphaValue(), 0.43, 1e-6);
    EXPECT_TRUE(window->isVisible());
    fade->setCurrentTime(250);
    EXPECT_FALSE(window->isVisible());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(hud.isNull());
}

TEST_F(ArtProgressHUDTest, ADismissalHalfWayInFadesOutFromThere)
{
    ArtProgressHUD::showInfoText(QStringLiteral("brief"));
    ArtHUDView* window = ArtProgressHUD::shared()->window();
    window->fadeAnimation()->setCurrentTime(50);
    const double reached = window->alphaValue();
    ArtProgressHUD::dismissLoading();
    EXPECT_NEAR(window->fadeAnimation()->startValue().toDouble(), reached, 1e-9);
    EXPECT_DOUBLE_EQ(window->fadeAnimation()->endValue().toDouble(), 0.0);
    EXPECT_TRUE(window->isVisible()) << "the fade-in's end does not close it; the fade-out's does";
}

TEST_F(ArtProgressHUDTest, TwoShowsInARowGiveOneHudWithTheSecondText)
{
    ArtProgressHUD::showInfoText(QStringLiteral("first"));
    ArtProgressHUD* first = ArtProgressHUD::shared();
    ArtProgressHUD::showErrorText(QStringLiteral("second"));
    EXPECT_EQ(ArtProgressHUD::shared(), first);
    EXPECT_EQ(first->tipTextField()->text(), QStringLiteral("second"));
    EXPECT_EQ(first->alertType(), ArtProgressHUD::kError);
    int huds = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
        huds += dynamic_cast<ArtHUDView*>(w) && w->isVisible() ? 1 : 0;
    EXPECT_EQ(huds, 1);
}

TEST_F(ArtProgressHUDTest, NoticeEndsAfterTwoSecondsOrOnAClick)
{
    ArtProgressHUD::showSuccessText(QStringLiteral("saved"));
    time_.advance(ArtProgressHUD::kDismissSeconds - 0.1);
    ASSERT_NE(ArtProgressHUD::shared(), nullptr);
    time_.advance(0.2);
    EXPECT_EQ(ArtProgressHUD::shared(), nullptr);

    // A click outside, on the host window, ends it and still reaches the host.
    ArtProgressHUD::showInfoText(QStringLiteral("x"));
    press(host_.get(), QPoint(5, 5), Qt::RightButton);
    EXPECT_EQ(ArtProgressHUD::shared(), nullptr);

    // A click on the HUD itself ends it too.
    ArtProgressHUD::showInfoText(QStringLiteral("y"));
    press(ArtProgressHUD::shared()->window(), QPoint(10, 10));
    EXPECT_EQ(ArtProgressHUD::shared(), nullptr);
}

TEST_F(ArtProgressHUDTest, LoadingIgnoresTimerAndClicksUntilDismissed)
{
    ArtProgressHUD::showLoading();
    ArtProgressHUD* hud = ArtProgressHUD::shared();
    time_.advance(10);
    press(host_.get(), QPoint(5, 5));
    press(hud->window(), QPoint(10, 10));
    EXPECT_EQ(ArtProgressHUD::shared(), hud);
    // Shown again: the same window, not a second one.
    ArtProgressHUD::showLoading();
    EXPECT_EQ(ArtProgressHUD::shared(), hud);
    ArtProgressHUD::dismissLoading();
    EXPECT_EQ(ArtProgressHUD::shared(), nullptr);
    ArtProgressHUD::dismissLoading(); // nothing shown: nothing happens
    EXPECT_EQ(ArtProgressHUD::shared(), nullptr);
}

TEST_F(ArtProgressHUDTest, TimerOfADismissedHudNeverEndsANewerOne)
{
    ArtProgressHUD::showInfoText(QStringLiteral("old"));
    time_.advance(1.5);
    ArtProgressHUD::dismissLoading();
    ArtProgressHUD::showInfoText(QStringLiteral("new"));
    ArtProgressHUD* newer = ArtProgressHUD::shared();
    time_.advance(1.0); // the old HUD's timer would have fired here
    EXPECT_EQ(ArtProgressHUD::shared(), newer);
    time_.advance(1.1);
    EXPECT_EQ(ArtProgressHUD::shared(), nullptr);
}

TEST_F(ArtProgressHUDTest, CentredOverTheHostOrOverAView)
{
    ArtProgressHUD::showInfoText(QStringLiteral("centre"));
    QWidget* window = ArtProgressHUD::shared()->window();
    EXPECT_EQ(window->size(), QSize(ArtProgressHUD::kWidth, ArtProgressHUD::kHeight));
    EXPECT_LE((window->geometry().center() - host_->frameGeometry().center()).manhattanLength(), 2);

    auto* view = new QWidget(host_.get());
    view->setGeometry(10, 20, 120, 60);
    view->show();
    ArtProgressHUD::showText(QStringLiteral("small"), ArtProgressHUD::kInfo, view);
    EXPECT_EQ(ArtProgressHUD::shared()->popView(), view);
    EXPECT_EQ(window->size(), QSize(120, 60));
    const QRect viewRect(view->mapToGlobal(QPoint(0, 0)), view->size());
    EXPECT_LE((window->geometry().center() - viewRect.center()).manhattanLength(), 2);
    // A later show without a view keeps the stored one.
    ArtProgressHUD::showInfoText(QStringLiteral("still small"));
    EXPECT_EQ(ArtProgressHUD::shared()->popView(), view);
}

// The panel's centre is its reference's centre, to a pixel, whether the
// panel keeps its size, grows for a long text or shrinks to a small view.
// CTest runs this once more with QT_SCALE_FACTOR=2, for a screen at 200 %.
TEST_F(ArtProgressHUDTest, ThePanelsCentreIsTheHostsOrTheViewsCentreAtEveryScale)
{
    const qreal scale = qEnvironmentVariableIsSet("QT_SCALE_FACTOR")
        ? qEnvironmentVariable("QT_SCALE_FACTOR").toDouble()
        : 1.0;
    EXPECT_DOUBLE_EQ(host_->devicePixelRatioF(), scale) << "the screen runs at the scale asked for";
    auto* page = new QWidget(host_.get());
    page->setGeometry(240, 60, 545, 425); // odd sizes: the halves do not fall on whole pixels
    auto* corner = new QWidget(host_.get());
    corner->setGeometry(5, 7, 97, 61); // smaller than the panel
    host_->show();
    const struct {
        const char* name;
        QWidget* view;
        quint64 type;
        const char* text;
    } cases[] = {
        { "host, success", nullptr, ArtProgressHUD::kSuccess, "Found 12 applications" },
        { "host, a long text", nullptr, ArtProgressHUD::kTextOnly,
            "A long notice that needs more room than the panel has, so the panel grows to hold it" },
        { "page, success", page, ArtProgressHUD::kSuccess, "Found 1 application" },
        { "page, loading", page, ArtProgressHUD::kLoading, "" },
        { "small view", corner, ArtProgressHUD::kError, "Could not be written" },
    };
    for (const auto& c : cases) {
        // A show without a view keeps the stored one: each case starts anew.
        ArtProgressHUD::dismissLoading();
        finishFades();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        if (c.type == ArtProgressHUD::kLoading)
            ArtProgressHUD::showLoading(c.view);
        else
            ArtProgressHUD::showText(QString::fromUtf8(c.text), c.type, c.view);
        const QWidget* panel = ArtProgressHUD::shared()->window();
        const QRectF reference = c.view ? QRectF(c.view->mapToGlobal(QPoint(0, 0)), QSizeF(c.view->size()))
                                        : QRectF(host_->frameGeometry());
        const QRectF shown(panel->frameGeometry());
        EXPECT_LE(std::abs(shown.center().x() - reference.center().x()), 1.0) << c.name;
        EXPECT_LE(std::abs(shown.center().y() - reference.center().y()), 1.0) << c.name;
        EXPECT_TRUE(reference.contains(shown)) << c.name << ": the panel stays over what it belongs to";
    }
}

TEST_F(ArtProgressHUDTest, TextBesideAnIconWrapsAndALongTextOnlyNoticeGrows)
{
    const QString longText = QStringLiteral("A rather long notice that does not fit into one short line");
    ArtProgressHUD::showInfoText(longText);
    ArtProgressHUD* hud = ArtProgressHUD::shared();
    EXPECT_LE(hud->tipTextField()->width(), ArtProgressHUD::kTipTextMaxWidth);
    EXPECT_TRUE(hud->tipTextField()->wordWrap());
    ArtProgressHUD::showText(longText);
    EXPECT_GT(hud->onlyTipTextField()->width(), ArtProgressHUD::kTipTextMaxWidth);
}

TEST_F(ArtProgressHUDTest, TextIsBodySizedAndCornersAreSmooth)
{
    ArtProgressHUD::showText(QStringLiteral("Saved"), ArtProgressHUD::kSuccess, nullptr);
    ArtProgressHUD* hud = ArtProgressHUD::shared();
    ASSERT_NE(hud, nullptr);
    const int body = QFontInfo(AppStyle::font()).pixelSize();
    for (QLabel* field : { hud->tipTextField(), hud->onlyTipTextField() }) {
        EXPECT_GE(QFontInfo(field->font()).pixelSize(), body);
    }

    // The window's shape along the top-left corner's arc, checked against
    // the geometry of the circle: a pixel the panel clearly covers is kept,
    // including the edge pixels whose centres lie just outside the arc (a
    // shape cut at pixel centres drops those and leaves a jagged corner); a
    // pixel clear of the circle is cut.
    ArtHUDView* window = hud->window();
    const QRegion shape = window->mask();
    ASSERT_FALSE(shape.isEmpty());
    EXPECT_TRUE(shape.contains(window->rect().center())) << "the panel itself is cut away";
    const double radius = ArtProgressHUD::kCornerRadius;
    int edgePixels = 0;
    for (int y = 0; y < int(radius); ++y) {
        for (int x = 0; x < int(radius); ++x) {
            // Distances from the arc's centre to the pixel's centre and to
            // its nearest point.
            const double cx = x + 0.5 - radius;
            const double cy = y + 0.5 - radius;
            const double nx = std::max(0.0, std::abs(cx) - 0.5);
            const double ny = std::max(0.0, std::abs(cy) - 0.5);
            const double centre = std::hypot(cx, cy);
            const double nearest = std::hypot(nx, ny);
            const bool kept = shape.contains(QPoint(x, y));
            if (centre > radius && nearest < radius - 0.35) {
                ++edgePixels;
                EXPECT_TRUE(kept) << "edge pixel " << x << "," << y << " is cut";
            } else if (nearest > radius) {
                EXPECT_FALSE(kept) << "pixel " << x << "," << y << " outside the panel is kept";
            }
        }
    }
    EXPECT_GT(edgePixels, 0);
}

} // namespace

namespace {

// Pictures of the looks, for people to check (scripts/window-shots.sh), in
// the interface language asked for. The host's three columns are told apart
// by their colours, so the picture shows what each notice is centred over:
// the whole window, or the column given as its view.
TEST(ArtProgressHUDShot, NoticesOverTheMainWindow)
{
    if (!fakes::screenShotsWanted())
        GTEST_SKIP() << "PRAVIK_SHOT_DIR is not set";
    KWLangManager& languages = KWLangManager::sharedManager();
    const quint64 before = languages.indexOfUI();
    languages.setIndexOfUI(fakes::screenShotLanguage());
    const auto tr
        = [](const char* key) { return LGNLocalizedString::lgnAppLocalizedString(QString::fromUtf8(key)); };
    fakes::VirtualTime time;
    QWidget host;
    host.setGeometry(100, 100, 900, 560);
    QWidget* columns[3] = {};
    const char* colours[3] = { "#dfe6ee", "#f3e9dc", "#e3f0e1" };
    for (int i = 0; i < 3; ++i) {
        columns[i] = new QWidget(&host);
        columns[i]->setGeometry(300 * i, 0, 300, 560);
        columns[i]->setStyleSheet(QStringLiteral("background: %1;").arg(QLatin1String(colours[i])));
    }
    host.show();
    ArtProgressHUD::configure(time, [&host] { return &host; });
    const auto restart = [] {
        ArtProgressHUD::dismissLoading();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    };
    // Each look is shown through the shared instance and captured by its own
    // shot, faded in whole first: a slow run must not catch it half-way.
    const auto fadedIn = [](const QString& name) {
        QPropertyAnimation* fade = ArtProgressHUD::shared()->window()->fadeAnimation();
        fade->setCurrentTime(fade->totalDuration());
        return fakes::saveScreenShot(name);
    };
    ArtProgressHUD::showText(tr("已找到 %1 个应用").arg(12), ArtProgressHUD::kSuccess, nullptr);
    const QString one = fadedIn(QStringLiteral("hud-success"));
    restart();
    ArtProgressHUD::showText(tr("已找到 1 个应用"), ArtProgressHUD::kSuccess, columns[0]);
    const QString two = fadedIn(QStringLiteral("hud-success-over-a-view"));
    restart();
    ArtProgressHUD::showText(tr("请检查网络"), ArtProgressHUD::kError, columns[1]);
    const QString three = fadedIn(QStringLiteral("hud-error"));
    restart();
    ArtProgressHUD::showLoading(columns[2]);
    const QString four = fadedIn(QStringLiteral("hud-loading"));
    restart();
    // Half-way through a fade-in, held there for the picture.
    ArtProgressHUD::showText(tr("请检查网络"), ArtProgressHUD::kInfo, columns[1]);
    QPropertyAnimation* fade = ArtProgressHUD::shared()->window()->fadeAnimation();
    fade->setCurrentTime(fade->duration() / 2);
    fade->pause();
    const QString five = fakes::saveScreenShot(QStringLiteral("hud-fade-in-half"));
    fade->resume();
    restart();
    ArtProgressHUD::configure(time, {});
    languages.setIndexOfUI(before);
    for (const QString& shot : { one, two, three, four, five })
        EXPECT_FALSE(shot.isEmpty());
}

} // namespace
