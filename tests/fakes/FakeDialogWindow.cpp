#include "tests/fakes/FakeDialogWindow.h"

namespace fakes {

void FakeDialogWindow::AddListItem(int id, const std::string& item) {
  lists_[id].push_back(item);
}

void FakeDialogWindow::SetListSelection(int id, int index) {
  selections_[id] = index;
}

int FakeDialogWindow::GetListSelection(int id) {
  auto it = selections_.find(id);
  return it == selections_.end() ? platform::kNoSelection : it->second;
}

void FakeDialogWindow::SetPicture(int, std::unique_ptr<platform::Bitmap> picture) {
  hasPicture = picture != nullptr;
  pictureWidth = picture ? picture->Width() : 0;
}

void FakeDialogWindow::SetTitle(const std::string& newTitle) {
  title = newTitle;
}

int FakeDialogWindow::RunModal(platform::DialogEvents& events) {
  ran = true;
  events.OnInitDialog();
  events.OnShowWindow(true);
  if (script) script(events);
  return endCode;
}

void FakeDialogWindow::EndDialog(int code) {
  if (endCode == kStillOpen) endCode = code;
}

std::vector<std::string> FakeDialogWindow::ListItems(int id) const {
  auto it = lists_.find(id);
  return it == lists_.end() ? std::vector<std::string>() : it->second;
}

}  // namespace fakes
