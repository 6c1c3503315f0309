// The waveform on a scaled display: the program's DrawWaveform on the Qt
// dialog, looked at in device pixels. CTest runs it once per scale factor
// (QT_SCALE_FACTOR 1, 1.25, 1.5, 1.75, 2); every dot must be the same
// square of device pixels, where the program put it.
#include <gtest/gtest.h>

#include <math.h>
#include <stdlib.h>

#include <set>
#include <utility>
#include <vector>

#include <QApplication>
#include <QImage>
#include <QPixmap>
#include <QWidget>
#include <QWindow>

#include <windows.h>

#include "platform.h"
#include "qt/qt_window.h"
#include "trace/trace.h"

namespace port {
namespace {

constexpr int kCount = 2048;

// One dot per column, each 8 rows from its neighbours' so no two touch,
// and all above the controls at every scale.
int RowOfColumn(int column)
{
    return 16 + 8 * (column % 24);
}

struct Shot {
    RECT client{};    // as the program sees it
    QImage screen;    // the window on the screen, in device pixels
    qreal ratio = 1;  // device pixels per Qt pixel
    QSize size;       // the window, in Qt pixels
};

QtWindowBackend *backend;
Shot *shot;

INT_PTR CALLBACK DrawAndLook(HWND hwnd, UINT message, WPARAM, LPARAM)
{
    if (message != WM_INITDIALOG) {
        return FALSE;
    }
    QCoreApplication::processEvents();  // the window shown
    GetClientRect(hwnd, &shot->client);
    const float step = (float)shot->client.right / kCount;  // as DrawWaveform steps
    std::vector<BYTE> samples(kCount);
    for (int i = 0; i < kCount; i++) {
        samples[i] = (BYTE)RowOfColumn((int)(i * step));
    }
    DrawWaveform(hwnd, samples.data(), kCount);
    QWidget *dialog = backend->DialogWidget();
    shot->ratio = dialog->devicePixelRatioF();
    shot->size = dialog->size();
    // Painted as on the screen, into an image of the window's device pixels.
    shot->screen = dialog->grab().toImage();
    EndDialog(hwnd, 0);
    return FALSE;
}

bool Green(const QImage &image, int x, int y)
{
    return (image.pixel(x, y) & 0xFFFFFF) == 0x00FF00;
}

// The green areas of an image, each as its bounding box, with the number
// of its pixels.
struct Blob {
    QRect box;
    int pixels;
};

std::vector<Blob> GreenBlobs(const QImage &image)
{
    std::vector<Blob> blobs;
    std::vector<bool> seen((size_t)image.width() * image.height());
    for (int y = 0; y < image.height(); y++) {
        for (int x = 0; x < image.width(); x++) {
            if (seen[(size_t)y * image.width() + x] || !Green(image, x, y)) {
                continue;
            }
            Blob blob{QRect(x, y, 1, 1), 0};
            std::vector<std::pair<int, int>> todo{{x, y}};
            seen[(size_t)y * image.width() + x] = true;
            while (!todo.empty()) {
                const auto [px, py] = todo.back();
                todo.pop_back();
                blob.pixels++;
                blob.box |= QRect(px, py, 1, 1);
                for (const auto &[nx, ny] :
                     {std::pair{px + 1, py}, {px - 1, py}, {px, py + 1}, {px, py - 1}}) {
                    if (nx >= 0 && ny >= 0 && nx < image.width() && ny < image.height() &&
                        !seen[(size_t)ny * image.width() + nx] && Green(image, nx, ny)) {
                        seen[(size_t)ny * image.width() + nx] = true;
                        todo.push_back({nx, ny});
                    }
                }
            }
            blobs.push_back(blob);
        }
    }
    return blobs;
}

class ScaledTrace : public testing::Test {
protected:
    void SetUp() override
    {
        QtWindowBackend window;
        backend = &window;
        shot = &shot_;
        UseBackends(&window, nullptr);
        ASSERT_EQ(DialogBoxParamA(nullptr, "Record", nullptr, DrawAndLook, 0), 0);
        UseBackends(nullptr, nullptr);
        ASSERT_FALSE(shot_.screen.isNull());
        // A dot is the scale factor, rounded down, device pixels square.
        dot_ = std::max(1, (int)floor(shot_.ratio + 1e-6));
        std::printf("scale %.2f: window %d x %d device pixels, client area %d x %d pixels of %d x %d\n",
                    shot_.ratio, shot_.screen.width(), shot_.screen.height(), (int)shot_.client.right,
                    (int)shot_.client.bottom, dot_, dot_);
    }

    Shot shot_;
    int dot_ = 1;
};

TEST_F(ScaledTrace, ClientAreaCoversTheWindowInWholeDots)
{
    const char *factor = getenv("QT_SCALE_FACTOR");
    ASSERT_NE(factor, nullptr) << "run through CTest, which sets QT_SCALE_FACTOR";
    EXPECT_DOUBLE_EQ(shot_.ratio, atof(factor));
    // Qt rounds the window's size in device pixels.
    EXPECT_EQ(shot_.screen.width(), qRound(shot_.size.width() * shot_.ratio));
    EXPECT_EQ(shot_.screen.height(), qRound(shot_.size.height() * shot_.ratio));
    EXPECT_EQ(shot_.client.right, (shot_.screen.width() + dot_ - 1) / dot_);
    EXPECT_EQ(shot_.client.bottom, (shot_.screen.height() + dot_ - 1) / dot_);
}

TEST_F(ScaledTrace, EveryDotIsTheSameSquareWhereTheProgramPutIt)
{
    std::set<std::pair<int, int>> expected;  // top-left corners, in device pixels
    for (int column = 0; column < shot_.client.right; column++) {
        expected.insert({column * dot_, RowOfColumn(column) * dot_});
    }
    std::set<std::pair<int, int>> found;
    int misshapen = 0;
    for (const Blob &blob : GreenBlobs(shot_.screen)) {
        found.insert({blob.box.left(), blob.box.top()});
        if (blob.box.size() != QSize(dot_, dot_) || blob.pixels != dot_ * dot_) {
            if (misshapen++ < 5) {
                ADD_FAILURE() << "dot at " << blob.box.left() << ", " << blob.box.top() << ": "
                              << blob.box.width() << " x " << blob.box.height() << ", " << blob.pixels
                              << " pixels";
            }
        }
    }
    EXPECT_EQ(misshapen, 0);
    EXPECT_EQ(found, expected);
}

TEST_F(ScaledTrace, BandIs256DotsHigh)
{
    const int bandBottom = TRACE_HEIGHT * dot_;  // first device row below the band
    const int x = shot_.screen.width() - 1;      // right of every control
    EXPECT_EQ(shot_.screen.pixel(x, 0) & 0xFFFFFF, 0u);
    EXPECT_EQ(shot_.screen.pixel(x, bandBottom - 1) & 0xFFFFFF, 0u);
    if (bandBottom < shot_.screen.height()) {
        EXPECT_NE(shot_.screen.pixel(x, bandBottom) & 0xFFFFFF, 0u);
    }
}

}  // namespace
}  // namespace port

int main(int argc, char **argv)
{
    testing::InitGoogleTest(&argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    char name[] = "qt_scale_tests";
    char *qtArgv[] = {name, nullptr};
    int qtArgc = 1;
    QApplication application(qtArgc, qtArgv);
    return RUN_ALL_TESTS();
}
