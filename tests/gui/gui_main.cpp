#include "gui_main.h"

#include <gtest/gtest.h>

#include <QApplication>

namespace qev::test {

__attribute__((weak)) std::optional<int> BeforeApp()
{
    return std::nullopt;
}

__attribute__((weak)) int RunTests(const std::function<int()>& run)
{
    return run();
}

} // namespace qev::test

int main(int argc, char** argv)
{
#ifdef QEV_OFFSCREEN_BY_DEFAULT // run by hand, the tests that need no X server open no window
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
#endif
    if (const auto result = qev::test::BeforeApp()) return *result;
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication application(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    ::testing::InitGoogleTest(&argc, argv);
    return qev::test::RunTests([] { return RUN_ALL_TESTS(); });
}
