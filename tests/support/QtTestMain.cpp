// Test main for tests that need a QApplication: windows are drawn off screen.

#include <QApplication>

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

QtMessageHandler g_standard = nullptr;

// The off-screen platform warns about window-manager requests it cannot pass on; nothing to see.
void quiet_handler(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (!message.startsWith(QLatin1String("This plugin does not support")))
        g_standard(type, context, message);
}

} // namespace

int main(int argc, char** argv) {
    // Test discovery runs the binary without CTest's environment.
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    g_standard = qInstallMessageHandler(quiet_handler);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
