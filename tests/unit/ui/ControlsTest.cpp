// The shared controls and the site icons.
#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QGridLayout>
#include <QImage>
#include <QSignalSpy>
#include <QTest>

#include <cmath>

#include "UITestSupport.h"
#include "ui/Controls.h"
#include "ui/TBNUIHelper.h"

namespace lumvane::testing {
namespace {

class ControlsTest : public PageFixture {};

TEST_F(ControlsTest, PressButtonShowsItsAlternateTitleInDarkBlueWhilePressed) {
    struct Case {
        QString alternate;
        QString whilePressed;
    };
    for (const Case& c : {Case{"", "Save"}, Case{"Saving", "Saving"}}) {
        SCOPED_TRACE(c.alternate.toStdString());
        TBNPressButton button("Save");
        button.setAlternateTitle(c.alternate);
        EXPECT_EQ(button.shownTitle(), "Save");
        EXPECT_EQ(button.shownColor(), QColor(Qt::white));
        button.setDown(true);
        emit button.pressed();
        EXPECT_EQ(button.shownTitle(), c.whilePressed);
        EXPECT_EQ(button.shownColor(), TBNUIHelper::darkBlueColor());
        button.setDown(false);
        emit button.released();
        EXPECT_EQ(button.shownTitle(), "Save");
    }
}

TEST_F(ControlsTest, TextFieldAsksBeforeTakingTheFocusAndReportsTheEndFirst) {
    QWidget window;
    // The other field comes first, so that it takes the focus when the window opens.
    auto* other = new TBNTextField(&window);
    auto* field = new TBNTextField(&window);
    window.show();
    QApplication::setActiveWindow(&window);
    settle();

    std::vector<std::string> events;
    bool allow = false;
    field->didBeginEditing([&](TBNTextField*) {
        events.push_back("begin");
        return allow;
    });
    field->didEndEditing(
        [&](TBNTextField* f) { events.push_back("end:" + f->text().toStdString()); });
    QObject::connect(field, &QLineEdit::editingFinished, [&] { events.push_back("finished"); });

    field->setFocus();
    settle();
    EXPECT_FALSE(field->hasFocus());  // the callback refused
    allow = true;
    field->setFocus();
    settle();
    EXPECT_TRUE(field->hasFocus());
    QTest::keyClicks(field, "abc");
    other->setFocus();
    settle();
    const std::vector<std::string> expected = {"begin", "begin", "end:abc", "finished"};
    EXPECT_EQ(events, expected);
}

TEST_F(ControlsTest, TextFieldReportsTheTextTypedAfterReturnWhenEditingEndsAgain) {
    QWidget window;
    auto* other = new TBNTextField(&window);
    auto* field = new TBNTextField(&window);
    window.show();
    QApplication::setActiveWindow(&window);
    settle();
    std::vector<std::string> events;
    field->didBeginEditing([&](TBNTextField*) {
        events.push_back("begin");
        return true;
    });
    field->didEndEditing(
        [&](TBNTextField* f) { events.push_back("end:" + f->text().toStdString()); });
    field->setFocus();
    settle();
    QTest::keyClicks(field, "ab");
    QTest::keyClick(field, Qt::Key_Return);
    // Return alone again, with nothing typed, ends nothing more.
    QTest::keyClick(field, Qt::Key_Return);
    QTest::keyClicks(field, "c");
    other->setFocus();
    settle();
    const std::vector<std::string> expected = {"begin", "end:ab", "end:abc"};
    EXPECT_EQ(events, expected);
}

// How far apart two pictures of the same size are: the mean difference of a channel, 0..255.
double meanDifference(const QImage& a, const QImage& b) {
    const QImage x = a.convertToFormat(QImage::Format_RGB32);
    const QImage y = b.convertToFormat(QImage::Format_RGB32);
    if (x.size() != y.size()) return 255;
    double sum = 0;
    for (int row = 0; row < x.height(); ++row) {
        for (int col = 0; col < x.width(); ++col) {
            const QRgb p = x.pixel(col, row), q = y.pixel(col, row);
            sum += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) +
                   std::abs(qBlue(p) - qBlue(q));
        }
    }
    return sum / (3.0 * x.width() * x.height());
}

TEST_F(ControlsTest, DisabledButtonsLookDisabledOnAPage) {
    QWidget page;
    page.setObjectName("page");
    ui::applyPageStyle(&page);
    auto* grid = new QGridLayout(&page);
    std::vector<std::pair<TBNPressButton*, TBNPressButton*>> pairs;
    int row = 0;
    for (auto role : {TBNPressButton::Role::Secondary, TBNPressButton::Role::Primary}) {
        auto* enabled = new TBNPressButton("Choose…", &page, role);
        auto* disabled = new TBNPressButton("Choose…", &page, role);
        disabled->setEnabled(false);
        grid->addWidget(enabled, row, 0);
        grid->addWidget(disabled, row, 1);
        pairs.emplace_back(enabled, disabled);
        ++row;
    }
    page.show();
    settle();
    QDir().mkpath(LUMVANE_UI_ARTEFACTS);
    EXPECT_TRUE(
        page.grab().save(QDir(LUMVANE_UI_ARTEFACTS).filePath("buttons-enabled-and-disabled.png")));
    // As drawn on the page: the buttons' own pictures lack the page under their
    // see-through backgrounds.
    auto drawn = [&](QWidget* button) { return page.grab(button->geometry()).toImage(); };
    for (const auto& [enabled, disabled] : pairs) {
        SCOPED_TRACE(enabled->property("role").toString().toStdString());
        ASSERT_EQ(enabled->size(), disabled->size());
        EXPECT_GT(meanDifference(drawn(enabled), drawn(disabled)), 6.0);
        // Enabled again, it looks like the others.
        disabled->setEnabled(true);
        settle();
        EXPECT_LT(meanDifference(drawn(enabled), drawn(disabled)), 1.0);
        disabled->setEnabled(false);
    }
}

TEST_F(ControlsTest, SwitchTogglesOnClick) {
    TBNSwitch sw;
    sw.resize(sw.sizeHint());
    sw.show();
    QTest::mouseClick(&sw, Qt::LeftButton);
    EXPECT_TRUE(sw.checked());
    QTest::mouseClick(&sw, Qt::LeftButton);
    EXPECT_FALSE(sw.checked());
}

QByteArray pngOf(QColor colour) {
    QImage image(16, 16, QImage::Format_ARGB32);
    image.fill(colour);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

TEST_F(ControlsTest, FaviconPlaceholderThenDownloadThenCache) {
    std::function<void(std::optional<QByteArray>)> pending;
    env_.fetchFavicon = [&](const QString& url, auto done) {
        faviconFetches_.push_back(url);
        pending = done;
    };
    ui::setEnvironment(env_);

    std::vector<QPixmap> delivered;
    auto collect = [&](const QPixmap& p) { delivered.push_back(p); };
    TBNUIHelper::faviconBySiteUrl(std::string("https://shop.example.org/cart"), collect);
    ASSERT_EQ(delivered.size(), 1u);  // the placeholder at once
    ASSERT_EQ(faviconFetches_.size(), 1u);
    EXPECT_EQ(faviconFetches_[0], "https://shop.example.org/favicon.ico");

    pending(pngOf(Qt::red));
    settle();
    ASSERT_EQ(delivered.size(), 2u);
    EXPECT_EQ(delivered[1].toImage().pixelColor(4, 4), QColor(Qt::red));
    EXPECT_TRUE(QFile::exists(TBNUIHelper::faviconCachePath("https://shop.example.org")));

    // Cached: one call, no download.
    delivered.clear();
    TBNUIHelper::faviconBySiteUrl(std::string("http://shop.example.org/other"), collect);
    EXPECT_EQ(delivered.size(), 1u);
    EXPECT_EQ(faviconFetches_.size(), 1u);

    // A failed or unreadable download leaves the placeholder alone.
    delivered.clear();
    TBNUIHelper::faviconBySiteUrl(std::string("https://nothing.example.net"), collect);
    pending(QByteArray("<html>not an icon</html>"));
    settle();
    EXPECT_EQ(delivered.size(), 1u);
    TBNUIHelper::faviconBySiteUrl(std::nullopt, collect);
    EXPECT_EQ(delivered.size(), 2u);
    EXPECT_EQ(faviconFetches_.size(), 2u);
}

}  // namespace
}  // namespace lumvane::testing
