#include "core/MMButton.h"

#include <QCheckBox>
#include <QPushButton>

#include <gtest/gtest.h>

namespace {

TEST(MMButtonTest, OnMeansChecked)
{
    QCheckBox box;
    EXPECT_FALSE(MMButton::mm_isOn(box));
    MMButton::setMm_isOn(box, true);
    EXPECT_TRUE(box.isChecked());
    EXPECT_TRUE(MMButton::mm_isOn(box));
    box.setCheckState(Qt::PartiallyChecked);
    EXPECT_FALSE(MMButton::mm_isOn(box));
    MMButton::setMm_isOn(box, false);
    EXPECT_EQ(box.checkState(), Qt::Unchecked);
}

TEST(MMButtonTest, ButtonWithoutStateStaysOff)
{
    QPushButton push;
    MMButton::setMm_isOn(push, true);
    EXPECT_FALSE(MMButton::mm_isOn(push));
    push.setCheckable(true);
    MMButton::setMm_isOn(push, true);
    EXPECT_TRUE(MMButton::mm_isOn(push));
}

} // namespace
