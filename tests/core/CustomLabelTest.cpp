#include "core/CustomLabel.h"

#include <gtest/gtest.h>

namespace {

TEST(CustomLabelTest, CentredWrappedReadOnlyAndTransparent)
{
    const QString text = QStringLiteral("A sentence long enough to need several lines <b>as written</b>");
    QLabel plain;
    CustomLabel label(text);
    EXPECT_EQ(label.text(), text);
    EXPECT_EQ(label.textFormat(), Qt::PlainText);
    EXPECT_EQ(label.alignment(), Qt::AlignCenter);
    EXPECT_TRUE(label.wordWrap());
    EXPECT_EQ(label.textInteractionFlags(), Qt::NoTextInteraction);
    EXPECT_EQ(label.frameShape(), QFrame::NoFrame);
    EXPECT_FALSE(label.autoFillBackground());
    EXPECT_EQ(label.font(), plain.font());
    EXPECT_GT(label.heightForWidth(60), label.heightForWidth(2000));
}

} // namespace
