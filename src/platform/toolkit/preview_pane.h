// The settings dialog's live preview: a pane that runs the saver in its own
// X window as a child process, with the values the dialog shows. For the
// settings dialog (platform/settings_dialog.h); relies on GTK 3 on X11.
#pragma once

#include <gtk/gtk.h>

#include <functional>
#include <string>
#include <vector>

namespace platform {

struct PreviewPane;

// The saver's one-run options for the values the dialog shows now.
using PreviewFlags = std::function<std::vector<std::string>()>;

// Builds the pane (not yet shown) and reads the main monitor's part of the
// desktop for it, so call it before the dialog's window maps. The child
// runs while the pane is mapped: it starts when the pane maps, and ends
// when it unmaps (the dialog hides or goes) or DestroyPreviewPane is called.
PreviewPane* CreatePreviewPane(PreviewFlags flags);
// Ends the child. Call before the pane's widget is destroyed.
void DestroyPreviewPane(PreviewPane* pane);
// The pane's widget, for the dialog to pack.
GtkWidget* PreviewPaneWidget(PreviewPane* pane);
// The program the pane runs: this program itself unless set. Takes effect
// at the next start.
void SetPreviewProgram(PreviewPane* pane, const std::string& program);
// A value changed: the child restarts with the new flags, at most about
// twice a second however fast the values change.
void PreviewValuesChanged(PreviewPane* pane);

}  // namespace platform
