// The process-wide analytics objects (the monitor, the shared defaults, the
// persisted configuration) write to the preferences and Application Support
// folders on first use, whichever test uses them first. This keeps them in a
// folder of this test run instead of the home of whoever runs the tests.
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

class ProcessHome final : public ::testing::Environment {
public:
    void SetUp() override
    {
        if (qEnvironmentVariableIsEmpty("PRAVIK_HOME") && dir_.isValid())
            qputenv("PRAVIK_HOME", dir_.path().toLocal8Bit());
    }

private:
    QTemporaryDir dir_;
};

const auto* const kProcessHome = ::testing::AddGlobalTestEnvironment(new ProcessHome);

} // namespace

TEST(ConfigProcessHome, ProcessWideFilesStayInsideTheTestRun)
{
    EXPECT_FALSE(qEnvironmentVariableIsEmpty("PRAVIK_HOME"));
}
