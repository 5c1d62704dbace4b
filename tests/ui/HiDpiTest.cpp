// The window on a screen scaled to 200 %: drawn at twice the pixels, icons drawn anew at that
// size rather than blown up, and no title or menu caption cut at the default window size.

#include "support/WindowFixture.h"

#include <QApplication>
#include <QDir>
#include <QHeaderView>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryFile>
#include <QToolBar>

#include "print/ReportPreview.h"
#include "ui/PortsDialog.h"

#include <gtest/gtest.h>

#include <cstdlib>

using namespace ulen3;
using namespace ulen3::test;

namespace {

class HiDpiTest : public WindowFixture {
protected:
    // The window as the program shows it at start (maximised), with a table open.
    void showWithTable() {
        form->showAsStored();
        form->openChosen(tableFile("survey.db", {0, 0, 1}));
        ASSERT_TRUE(form->document().isOpen());
        QApplication::processEvents();
    }
};

TEST_F(HiDpiTest, TheWindowIsDrawnAtTwiceThePixels) {
    showWithTable();
    EXPECT_DOUBLE_EQ(form->devicePixelRatioF(), 2.0);
    const QPixmap shot = form->grab();
    EXPECT_EQ(shot.size(), form->size() * 2);
    // Maximised on a 2880 × 1800 screen: 1440 × 900 logical pixels, less nothing for a frame.
    EXPECT_EQ(form->screen()->geometry().size(), QSize(1440, 900));
    EXPECT_GE(form->width(), 1400);
}

TEST_F(HiDpiTest, ToolbarIconsAreDrawnAtTheScreensSize) {
    showWithTable();
    const auto bars = form->findChildren<QToolBar*>();
    ASSERT_EQ(bars.size(), 1);
    EXPECT_EQ(bars[0]->iconSize(), QSize(16, 16));
    int icons = 0;
    for (QAction* a : bars[0]->actions()) {
        if (a->icon().isNull())
            continue;
        ++icons;
        const QPixmap sharp = a->icon().pixmap(QSize(16, 16), 2.0);
        EXPECT_EQ(sharp.size(), QSize(32, 32)) << a->text().toStdString();
        EXPECT_EQ(sharp.deviceIndependentSize(), QSizeF(16, 16));
        // A 16-pixel picture blown up to 32 is not what is shown.
        const QImage blown = a->icon().pixmap(QSize(16, 16), 1.0).toImage().scaled(32, 32);
        EXPECT_NE(sharp.toImage().convertToFormat(blown.format()), blown) << a->text().toStdString();
    }
    EXPECT_EQ(icons, 6);
    // The program's own icon, sharp at the double size too.
    const QPixmap own = application_icon().pixmap(QSize(48, 48), 2.0);
    EXPECT_EQ(own.size(), QSize(96, 96));
    EXPECT_GT(own.toImage().pixelColor(48, 48).alpha(), 0);
}

TEST_F(HiDpiTest, NoTitleOrCaptionIsCutAtTheDefaultSize) {
    showWithTable();
    QMenuBar* bar = form->menuBar();
    for (QAction* a : bar->actions()) {
        const QString caption = a->text().remove(QLatin1Char('&'));
        EXPECT_GE(bar->actionGeometry(a).width(), bar->fontMetrics().horizontalAdvance(caption))
            << caption.toStdString();
    }
    TDBGridPro* grid = form->activeGrid();
    QHeaderView* header = grid->view()->horizontalHeader();
    ASSERT_EQ(header->count(), grid->Columns().Count());
    for (int i = 0; i < header->count(); ++i) {
        if (header->isSectionHidden(i))
            continue;
        const QString title = grid->Columns().Items(i).Caption;
        EXPECT_GE(header->sectionSize(i), header->fontMetrics().horizontalAdvance(title) + 4)
            << title.toStdString() << " in a column " << header->sectionSize(i) << " wide";
    }
}

// On a small screen at 200 % (800 × 500 logical pixels) the preview and the help open inside
// the screen, every button within reach.
TEST_F(HiDpiTest, WindowsOpenInsideASmallScreen) {
    QScreen* small = nullptr;
    for (QScreen* s : QGuiApplication::screens())
        if (s->name() == "small")
            small = s;
    ASSERT_NE(small, nullptr);
    ASSERT_EQ(small->geometry().size(), QSize(800, 500));
    form->setScreen(small);
    form->setGeometry(QRect(small->availableGeometry().topLeft() + QPoint(10, 30), QSize(700, 400)));
    form->show();
    form->openChosen(tableFile("survey.db", {0, 0, 0}));
    ASSERT_TRUE(form->prepare_report());
    ReportPreview preview(form->report(PageKind::Observation).prepared, {}, form.get());
    EXPECT_LE(preview.width(), 800);
    EXPECT_LE(preview.height(), 500 - 30);
    preview.show();
    QApplication::processEvents();
    for (QPushButton* b : preview.findChildren<QPushButton*>())
        EXPECT_TRUE(preview.rect().contains(b->geometry())) << b->text().toStdString();
    preview.close();
    // The ports dialog, with a long device name chosen for COM1.
    settings.write("COM1", "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10KZ8QX-if00-port0-with-a-long-name");
    PortsDialog ports(settings, dialogs, form.get());
    ports.show();
    QApplication::processEvents();
    EXPECT_LE(ports.frameGeometry().width(), 800);
    EXPECT_LE(ports.frameGeometry().height(), 500);
}

} // namespace

int main(int argc, char** argv) {
    // A 2880 × 1800 screen at 200 %, off screen, and beside it a small one of 1600 × 1000.
    QTemporaryFile screens(QDir::tempPath() + "/ulen3-screens-XXXXXX.json");
    screens.open();
    screens.write(R"({"screens": [{"name": "hidpi", "x": 0, "y": 0, "width": 2880, "height": 1800,
                     "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1.0},
                    {"name": "small", "x": 2880, "y": 0, "width": 1600, "height": 1000,
                     "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1.0}]})");
    screens.flush();
    const QByteArray platform = "offscreen:configfile=" + screens.fileName().toLocal8Bit();
    setenv("QT_QPA_PLATFORM", platform.constData(), 1);
    setenv("QT_SCALE_FACTOR", "2", 1);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
