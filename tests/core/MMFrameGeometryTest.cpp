#include "core/MMFrameGeometry.h"

#include <functional>
#include <gtest/gtest.h>

namespace {

// Frame x 10, y 20, width 30, height 40. A window frame (bottom-left screen origin) reads as
// a frame that is not flipped.
const QRectF kFrame(10, 20, 30, 40);

TEST(MMFrameGeometryTest, GettersByFlipping)
{
    for (bool flipped : { false, true }) {
        SCOPED_TRACE(flipped ? "flipped" : "not flipped");
        const MMFrameGeometry g(kFrame, flipped);
        EXPECT_EQ(g.x(), 10);
        EXPECT_EQ(g.left(), 10);
        EXPECT_EQ(g.y(), 20);
        EXPECT_EQ(g.width(), 30);
        EXPECT_EQ(g.height(), 40);
        EXPECT_EQ(g.right(), 40);
        EXPECT_EQ(g.centerX(), 25);
        EXPECT_EQ(g.centerY(), 40);
        EXPECT_EQ(g.origin(), QPointF(10, 20));
        EXPECT_EQ(g.size(), QSizeF(30, 40));
        EXPECT_EQ(g.center(), QPointF(25, 40));
        EXPECT_EQ(g.centerPoint(), QPointF(25, 40));
        EXPECT_EQ(g.top(), flipped ? 20 : 60);
        EXPECT_EQ(g.bottom(), flipped ? 60 : 20);
        EXPECT_EQ(g.topLeft(), flipped ? QPointF(10, 20) : QPointF(10, 60));
        EXPECT_EQ(g.leftBottom(), flipped ? QPointF(10, 60) : QPointF(10, 20));
        EXPECT_EQ(g.bottomRight(), flipped ? QPointF(40, 60) : QPointF(40, 20));
        EXPECT_EQ(g.topRight(), flipped ? QPointF(40, 20) : QPointF(40, 60));
    }
}

TEST(MMFrameGeometryTest, SettersMoveOnlyWhatTheyName)
{
    using Change = std::function<void(MMFrameGeometry&)>;
    struct Case {
        const char* name;
        Change change;
        QRectF notFlipped;
        QRectF flipped;
    };
    const Case cases[] = {
        { "setX", [](MMFrameGeometry& g) { g.setX(5); }, { 5, 20, 30, 40 }, { 5, 20, 30, 40 } },
        { "setLeft", [](MMFrameGeometry& g) { g.setLeft(5); }, { 5, 20, 30, 40 }, { 5, 20, 30, 40 } },
        { "setY", [](MMFrameGeometry& g) { g.setY(5); }, { 10, 5, 30, 40 }, { 10, 5, 30, 40 } },
        { "setWidth", [](MMFrameGeometry& g) { g.setWidth(7); }, { 10, 20, 7, 40 }, { 10, 20, 7, 40 } },
        { "setHeight", [](MMFrameGeometry& g) { g.setHeight(7); }, { 10, 20, 30, 7 }, { 10, 20, 30, 7 } },
        { "setTop", [](MMFrameGeometry& g) { g.setTop(100); }, { 10, 60, 30, 40 }, { 10, 100, 30, 40 } },
        { "setBottom", [](MMFrameGeometry& g) { g.setBottom(100); }, { 10, 100, 30, 40 },
            { 10, 60, 30, 40 } },
        { "setRight", [](MMFrameGeometry& g) { g.setRight(100); }, { 70, 20, 30, 40 }, { 70, 20, 30, 40 } },
        { "setCenterX", [](MMFrameGeometry& g) { g.setCenterX(100); }, { 85, 20, 30, 40 },
            { 85, 20, 30, 40 } },
        { "setCenterY", [](MMFrameGeometry& g) { g.setCenterY(100); }, { 10, 80, 30, 40 },
            { 10, 80, 30, 40 } },
        { "setOrigin",
            [](MMFrameGeometry& g) {
                g.setOrigin({ 1, 2 });
            },
            { 1, 2, 30, 40 }, { 1, 2, 30, 40 } },
        { "setSize",
            [](MMFrameGeometry& g) {
                g.setSize({ 3, 4 });
            },
            { 10, 20, 3, 4 }, { 10, 20, 3, 4 } },
        { "setCenter",
            [](MMFrameGeometry& g) {
                g.setCenter({ 50, 50 });
            },
            { 35, 30, 30, 40 }, { 35, 30, 30, 40 } },
        { "setCenterPoint",
            [](MMFrameGeometry& g) {
                g.setCenterPoint({ 50, 50 });
            },
            { 35, 30, 30, 40 }, { 35, 30, 30, 40 } },
        { "setTopLeft",
            [](MMFrameGeometry& g) {
                g.setTopLeft({ 5, 100 });
            },
            { 5, 60, 30, 40 }, { 5, 100, 30, 40 } },
        { "setLeftBottom",
            [](MMFrameGeometry& g) {
                g.setLeftBottom({ 5, 100 });
            },
            { 5, 100, 30, 40 }, { 5, 60, 30, 40 } },
        { "setBottomRight",
            [](MMFrameGeometry& g) {
                g.setBottomRight({ 100, 100 });
            },
            { 70, 100, 30, 40 }, { 70, 60, 30, 40 } },
        { "setTopRight",
            [](MMFrameGeometry& g) {
                g.setTopRight({ 100, 100 });
            },
            { 70, 60, 30, 40 }, { 70, 100, 30, 40 } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MMFrameGeometry plain(kFrame, false);
        c.change(plain);
        EXPECT_EQ(plain.frame(), c.notFlipped);
        EXPECT_FALSE(plain.flipped());
        MMFrameGeometry flipped(kFrame, true);
        c.change(flipped);
        EXPECT_EQ(flipped.frame(), c.flipped);
        EXPECT_TRUE(flipped.flipped());
    }
}

} // namespace
