// Shared main for the Qt test executables: one QApplication on the offscreen platform.
#include <QApplication>
#include <cstdlib>
#include <gtest/gtest.h>

int main(int argc, char **argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName("Quorvex");
    QCoreApplication::setApplicationName("KLRemoteTests");
    return RUN_ALL_TESTS();
}
