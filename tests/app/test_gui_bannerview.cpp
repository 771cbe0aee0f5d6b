// The light banner view: local pages with their images, animated GIFs, no
// reads outside the page's folder and nothing from the network, a plain page
// for a missing file, links opened in the user's browser.
#include "app/htmlbannerview.h"

#include "test_gui_support.h"

#include <QAbstractTextDocumentLayout>
#include <QImage>
#include <QTest>
#include <QTextDocument>

#include <gtest/gtest.h>

namespace vexor {
namespace {

// Two 8 x 8 frames, red then blue, 50 ms each, looping.
const unsigned char AnimatedGif[] = {
    0x47, 0x49, 0x46, 0x38, 0x39, 0x61, 0x08, 0x00, 0x08, 0x00, 0xf0, 0x00, 0x00, 0xff, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x21, 0xf9, 0x04, 0x00, 0x05, 0x00, 0x00, 0x00, 0x21, 0xff, 0x0b, 0x4e, 0x45, 0x54, 0x53,
    0x43, 0x41, 0x50, 0x45, 0x32, 0x2e, 0x30, 0x03, 0x01, 0x00, 0x00, 0x00, 0x2c, 0x00, 0x00, 0x00, 0x00,
    0x08, 0x00, 0x08, 0x00, 0x00, 0x02, 0x07, 0x84, 0x8f, 0xa9, 0xcb, 0xed, 0x5d, 0x00, 0x00, 0x21, 0xf9,
    0x04, 0x00, 0x05, 0x00, 0x00, 0x00, 0x2c, 0x00, 0x00, 0x00, 0x00, 0x08, 0x00, 0x08, 0x00, 0x80, 0x00,
    0x00, 0xff, 0x00, 0x00, 0x00, 0x02, 0x07, 0x84, 0x8f, 0xa9, 0xcb, 0xed, 0x5d, 0x00, 0x00, 0x3b};

class BannerViewTest : public ::testing::Test {
protected:
    BannerViewTest()
    {
        view.resize(124, 94);
    }
    QString path(const std::string& relative) const { return QString::fromStdString(dir.path() + relative); }
    void writePng(const std::string& relative, QColor color, QSize size = QSize(10, 6)) const
    {
        QImage image(size, QImage::Format_RGB32);
        image.fill(color);
        std::filesystem::create_directories(std::filesystem::path(dir.path() + relative).parent_path());
        ASSERT_TRUE(image.save(path(relative), "PNG"));
    }
    // The image the document holds for `name`, as the view resolved it.
    QImage resource(const std::string& name)
    {
        const QVariant value = view.document()->resource(QTextDocument::ImageResource,
                                                        QUrl(QString::fromStdString(name)));
        return value.typeId() == QMetaType::QPixmap ? value.value<QPixmap>().toImage() : value.value<QImage>();
    }

    testkit::TempDir dir;
    testkit::ScopedEnv urlLog{"VEXOR_OPEN_URL_LOG", dir.path() + "urls.log"};
    HtmlBannerView view;
};

TEST_F(BannerViewTest, ShowsALocalPageWithItsImagesAndNoChrome)
{
    writePng("advs/logo.png", Qt::green);
    dir.write("advs/0.htm", "<html><body bgcolor=\"#0000ff\"><p>Hello banner</p><img src=\"logo.png\"></body></html>");
    view.showPage(path("advs/0.htm"));
    EXPECT_FALSE(view.showsPlaceholder());
    EXPECT_EQ(view.currentPage(), path("advs/0.htm"));
    EXPECT_TRUE(view.document()->toPlainText().contains(QStringLiteral("Hello banner")));
    const QImage logo = resource("logo.png");
    EXPECT_EQ(logo.size(), QSize(10, 6));
    EXPECT_EQ(logo.pixelColor(0, 0), QColor(Qt::green));

    // No scroll bars or frame, and the page's background fills the pane below
    // its short text.
    EXPECT_TRUE(view.findChildren<QWidget*>().isEmpty());
    EXPECT_EQ(view.grab().toImage().pixelColor(60, 90), QColor(Qt::blue));
}

TEST_F(BannerViewTest, ReadsNothingOutsideThePageFolderOrFromTheNetwork)
{
    writePng("secret.png", Qt::red);
    writePng("advs/sub/inner.png", Qt::blue);
    dir.write("outside.css", "p { color: red }");
    const std::string absolute = dir.path() + "secret.png";
    dir.write("advs/1.htm", "<img src=\"../secret.png\"><img src=\"file://" + absolute +
                                "\"><img src=\"http://127.0.0.1:9/x.png\"><img src=\"sub/inner.png\">");
    std::filesystem::create_symlink(absolute, dir.path() + "advs/link.png");
    view.showPage(path("advs/1.htm"));
    for (const std::string& refused : {std::string("../secret.png"), "file://" + absolute,
                                       std::string("http://127.0.0.1:9/x.png"), std::string("link.png")}) {
        const QImage image = resource(refused);
        EXPECT_LE(image.width(), 1) << refused;
        if (!image.isNull()) {
            EXPECT_EQ(image.pixelColor(0, 0).alpha(), 0) << refused;
        }
    }
    EXPECT_EQ(resource("sub/inner.png").pixelColor(0, 0), QColor(Qt::blue)) << "subfolders are part of the page";
    const QVariant css = view.document()->resource(QTextDocument::StyleSheetResource, QUrl(QStringLiteral("../outside.css")));
    EXPECT_TRUE(css.toString().isEmpty());
}

TEST_F(BannerViewTest, AnimatedGifPlaysFrameAfterFrame)
{
    dir.write("advs/anim.gif", std::string(reinterpret_cast<const char*>(AnimatedGif), sizeof AnimatedGif));
    dir.write("advs/2.htm", "<img src=\"anim.gif\">");
    view.show();
    view.showPage(path("advs/2.htm"));
    EXPECT_EQ(view.runningAnimations(), 1);
    EXPECT_EQ(resource("anim.gif").pixelColor(0, 0), QColor(Qt::red));
    GUI_TRY_VERIFY(resource("anim.gif").pixelColor(0, 0) == QColor(Qt::blue));
    GUI_TRY_VERIFY(resource("anim.gif").pixelColor(0, 0) == QColor(Qt::red));

    // The next page stops the old page's animations.
    dir.write("advs/3.htm", "<p>still</p>");
    view.showPage(path("advs/3.htm"));
    EXPECT_EQ(view.runningAnimations(), 0);
}

TEST_F(BannerViewTest, MissingOrBrokenPageShowsThePlainPage)
{
    dir.write("advs/0.htm", "<p>first</p>");
    view.showPage(path("advs/0.htm"));
    for (const std::string& broken : {std::string("advs/9.htm"), std::string("advs")}) {
        view.showPage(path(broken));
        EXPECT_TRUE(view.showsPlaceholder()) << broken;
        EXPECT_FALSE(view.document()->toPlainText().contains(QStringLiteral("first"))) << broken;
        EXPECT_EQ(view.currentPage(), path(broken));
    }
    // Bytes that are not UTF-8 read as Latin-1; a page naming its charset is
    // read in it.
    dir.write("advs/4.htm", "<p>Caf\xe9</p>");
    view.showPage(path("advs/4.htm"));
    EXPECT_FALSE(view.showsPlaceholder());
    EXPECT_TRUE(view.document()->toPlainText().contains(QString::fromUtf8("Caf\xc3\xa9")));
    dir.write("advs/5.htm", "<meta charset=\"utf-8\"><p>Stra\xc3\x9f" "e</p>");
    view.showPage(path("advs/5.htm"));
    EXPECT_TRUE(view.document()->toPlainText().contains(QString::fromUtf8("Stra\xc3\x9f" "e")));
}

TEST_F(BannerViewTest, ClickedLinksOpenInTheBrowserOnlyForWebAddresses)
{
    writePng("advs/big.png", Qt::yellow, QSize(124, 94));
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    const struct {
        const char* href;
        bool opens;
    } rows[] = {{"http://ads.example/offer?id=7", true}, {"mailto:sales@ads.example", true},
                {"file:///etc/passwd", false},        {"other.htm", false},
                {"javascript:alert(1)", false}};
    std::string expected;
    for (const auto& row : rows) {
        dir.write("advs/6.htm", std::string("<a href=\"") + row.href + "\"><img src=\"big.png\"></a>");
        view.showPage(path("advs/6.htm"));
        QTest::mouseClick(&view, Qt::LeftButton, {}, QPoint(40, 40));
        if (row.opens)
            expected += std::string(row.href) + "\n";
        EXPECT_EQ(dir.read("urls.log"), expected) << row.href;
        EXPECT_EQ(view.currentPage(), path("advs/6.htm")) << "a link never replaces the banner";
    }
}

}  // namespace
}  // namespace vexor
