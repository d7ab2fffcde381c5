#include <gtest/gtest.h>

#include "sys/Messages.h"

namespace {

class AnswerYes final : public sys::MessagePresenter {
public:
  sys::MessageAnswer Show(const std::string& text, sys::MessageKind, sys::MessageButtons) override {
    lastText = text;
    return sys::MessageAnswer::Yes;
  }
  std::string lastText;
};

TEST(Messages, InstalledPresenterReceivesEveryBoxUntilRemoved) {
  AnswerYes presenter;
  sys::SetMessages(&presenter);
  EXPECT_EQ(sys::Messages().Show("Go on?", sys::MessageKind::Warning, sys::MessageButtons::YesNo),
            sys::MessageAnswer::Yes);
  sys::ShowMessage("done");
  EXPECT_EQ(presenter.lastText, "done");
  sys::SetMessages(nullptr);
  EXPECT_NE(&sys::Messages(), &presenter);
}

} // namespace
