#include "core/MMViewGeometry.h"

#include <QWidget>

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

namespace {

class MMViewGeometryTest : public ::testing::Test {
protected:
    QWidget parent;
    QWidget* child = new QWidget(&parent);

    void SetUp() override
    {
        parent.resize(800, 600);
        child->setGeometry(10, 20, 30, 40);
    }
};

TEST_F(MMViewGeometryTest, WidgetFramesReadTopDown)
{
    const MMFrameGeometry g = MMViewGeometry::frameOf(*child);
    EXPECT_TRUE(g.flipped());
    EXPECT_EQ(g.frame(), QRectF(10, 20, 30, 40));
    EXPECT_EQ(g.top(), 20);
    EXPECT_EQ(g.bottom(), 60);
}

TEST_F(MMViewGeometryTest, UpdateWritesTheChangedFrameBackRounded)
{
    MMViewGeometry::update(*child, [](MMFrameGeometry& g) { g.setCenterX(100); });
    EXPECT_EQ(child->geometry(), QRect(85, 20, 30, 40));
    MMViewGeometry::update(*child, [](MMFrameGeometry& g) { g.setBottom(200.6); });
    EXPECT_EQ(child->geometry(), QRect(85, 161, 30, 40));
    MMViewGeometry::update(*child, [](MMFrameGeometry& g) { g.setSize({ 50.4, 10.5 }); });
    EXPECT_EQ(child->geometry().size(), QSize(50, 11));
}

TEST_F(MMViewGeometryTest, UnreasonableValuesArePinned)
{
    MMViewGeometry::update(*child, [](MMFrameGeometry& g) {
        g.setX(std::numeric_limits<double>::quiet_NaN());
        g.setY(-1e300);
        g.setWidth(-5);
        g.setHeight(1e300);
    });
    const QRect frame = child->geometry();
    EXPECT_EQ(frame.x(), 0);
    EXPECT_EQ(frame.y(), -QWIDGETSIZE_MAX);
    EXPECT_EQ(frame.width(), 0);
    EXPECT_EQ(frame.height(), child->maximumHeight());
}

TEST_F(MMViewGeometryTest, WindowsUseTheirScreenFrame)
{
    QWidget window;
    window.setGeometry(100, 120, 200, 150);
    MMViewGeometry::update(window, [](MMFrameGeometry& g) { g.setTopLeft({ 50, 60 }); });
    EXPECT_EQ(window.geometry(), QRect(50, 60, 200, 150));
}

} // namespace
