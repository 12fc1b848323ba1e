#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QTest>
#include <QVBoxLayout>

#include "RavoletApp/Model/SimulatedMachine.hpp"
#include "RavoletApp/UI/ProfileScope.hpp"
#include "RavoletApp/UI/ResetButton.hpp"
#include "UITestSupport.hpp"

namespace ravolet {
namespace {

struct ProfileScopeTest : ::testing::Test {
    std::shared_ptr<SimulatedMachine> machine = SimulatedMachine::makeInVirtualTime();
    std::shared_ptr<AppModel> model = machine->makeModel();
    std::shared_ptr<ProfileSelection> selection = std::make_shared<ProfileSelection>(std::string(Profile::defaultProfileID));
    int contentBuilds = 0;
    ProfileScope scope{model, selection, [this](ProfileBinding&) {
                           ++contentBuilds;
                           return new QLabel(QStringLiteral("page"));
                       }};
};

TEST_F(ProfileScopeTest, ShowingWritesNothingAndThePickerFollowsTheSelection) {
    const Config before = model->config().value();
    test::showAndSettle(scope);
    EXPECT_EQ(model->config().value(), before);
    EXPECT_EQ(contentBuilds, 1);
    EXPECT_EQ(scope.picker()->count(), static_cast<int>(before.profiles.size()));
    EXPECT_EQ(scope.picker()->currentData().toString(), QString::fromStdString(selection->value()));
    EXPECT_EQ(scope.inUseLabel()->text(), QStringLiteral("In use right now"));

    selection->set(before.profiles[1].id);
    EXPECT_EQ(scope.picker()->currentIndex(), 1);
    EXPECT_TRUE(scope.inUseLabel()->isHidden()); // nothing in front in the simulated desktop
    EXPECT_EQ(model->config().value(), before);
    test::saveScreenshot(scope, QStringLiteral("profile-scope"));
}

TEST_F(ProfileScopeTest, ThePickerAndItsResetWriteTheSelectionAndEditsLandOnThatProfile) {
    test::showAndSettle(scope);
    QTest::keyClick(scope.picker(), Qt::Key_Down); // a user's choice of the second profile
    const std::string second = model->config().value().profiles[1].id;
    EXPECT_EQ(selection->value(), second);

    int changes = 0;
    QObject::connect(&scope.binding(), &ProfileBinding::changed, [&] { ++changes; });
    scope.binding().edit([](Profile& profile) { profile.name = "Renamed"; });
    EXPECT_EQ(model->config().value().profiles[1].name, "Renamed");
    EXPECT_EQ(changes, 1);
    scope.binding().edit([](Profile&) {}); // unchanged: no new document
    EXPECT_EQ(changes, 1);

    Config withOtherDefault = model->config().value();
    withOtherDefault.ruleSet.defaultProfileID = withOtherDefault.profiles[0].id;
    model->setConfig(withOtherDefault);
    QTest::mouseClick(scope.pickerResetButton(), Qt::LeftButton);
    EXPECT_EQ(selection->value(), withOtherDefault.ruleSet.defaultProfileID);
}

} // namespace
} // namespace ravolet
