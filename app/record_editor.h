#pragma once
// The record editor of the main window: the group box suiGroupBox1 below the
// grid, with its boxes and buttons, shown only in the editor view. TForm1's
// editor members (Load, Save and the buttons' handlers) are defined in
// record_editor.cpp.
//
// Threads: main thread only.

namespace quilvane {

class TForm1;

// Makes the editor's controls on `form` (while it is loading): the group box
// hidden, as the window starts in the list view.
void CreateRecordEditor(TForm1& form);

}  // namespace quilvane
