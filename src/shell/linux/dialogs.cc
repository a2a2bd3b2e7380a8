#include "shell/linux/dialogs.h"

#include <gtk/gtk.h>
#include <sys/stat.h>

#include "shell/linux/snapshot_file.h"

namespace varnholt_app {

namespace {

std::string takeFilename(GtkFileChooser* chooser) {
  char* name = gtk_file_chooser_get_filename(chooser);
  if (name == nullptr) return {};  // not a local file
  std::string out(name);
  g_free(name);
  return out;
}

bool fileExists(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0;
}

bool confirmReplace(GtkWindow* owner, const std::string& path) {
  char* base = g_path_get_basename(path.c_str());
  GtkWidget* dialog = gtk_message_dialog_new(owner, static_cast<GtkDialogFlags>(GTK_DIALOG_MODAL | GTK_DIALOG_DESTROY_WITH_PARENT),
                                             GTK_MESSAGE_QUESTION, GTK_BUTTONS_NONE,
                                             "A file named \xE2\x80\x9C%s\xE2\x80\x9D already exists. "
                                             "Do you want to replace it?",
                                             base);
  g_free(base);
  gtk_dialog_add_buttons(GTK_DIALOG(dialog), "_Cancel", GTK_RESPONSE_CANCEL, "_Replace", GTK_RESPONSE_ACCEPT,
                         nullptr);
  gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_CANCEL);
  const int response = gtk_dialog_run(GTK_DIALOG(dialog));
  gtk_widget_destroy(dialog);
  return response == GTK_RESPONSE_ACCEPT;
}

}  // namespace

std::string showFolderPicker(GtkWindow* owner) {
  GtkFileChooserNative* chooser = gtk_file_chooser_native_new(
      "Select Folder", owner, GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER, nullptr, nullptr);
  gtk_file_chooser_set_local_only(GTK_FILE_CHOOSER(chooser), TRUE);
  std::string folder;
  if (gtk_native_dialog_run(GTK_NATIVE_DIALOG(chooser)) == GTK_RESPONSE_ACCEPT) {
    folder = takeFilename(GTK_FILE_CHOOSER(chooser));
  }
  g_object_unref(chooser);
  return folder;
}

SnapshotSaveResult saveSnapshotWithDialog(GtkWindow* owner, const std::string& suggestedName,
                                          const std::string& pngBytes) {
  if (pngBytes.empty()) return {{}, "the picture is empty"};
  GtkFileChooserNative* chooser =
      gtk_file_chooser_native_new("Save Snapshot", owner, GTK_FILE_CHOOSER_ACTION_SAVE, nullptr, nullptr);
  GtkFileChooser* fc = GTK_FILE_CHOOSER(chooser);
  gtk_file_chooser_set_local_only(fc, TRUE);
  gtk_file_chooser_set_do_overwrite_confirmation(fc, TRUE);
  GtkFileFilter* filter = gtk_file_filter_new();
  gtk_file_filter_set_name(filter, "PNG Image (*.png)");
  gtk_file_filter_add_pattern(filter, "*.png");
  gtk_file_chooser_add_filter(fc, filter);  // takes the floating reference
  if (!suggestedName.empty()) gtk_file_chooser_set_current_name(fc, suggestedName.c_str());

  std::string path;
  while (gtk_native_dialog_run(GTK_NATIVE_DIALOG(chooser)) == GTK_RESPONSE_ACCEPT) {
    const std::string chosen = takeFilename(fc);
    if (chosen.empty()) break;
    path = withDefaultExtension(chosen, "png");
    // The dialog confirmed replacing `chosen`, not the name with ".png"
    // added; ask again for that one, and go back to the dialog on "no".
    if (path == chosen || !fileExists(path) || confirmReplace(owner, path)) break;
    char* folder = g_path_get_dirname(path.c_str());
    char* name = g_path_get_basename(path.c_str());
    gtk_file_chooser_set_current_folder(fc, folder);
    gtk_file_chooser_set_current_name(fc, name);
    g_free(folder);
    g_free(name);
    path.clear();
  }
  g_object_unref(chooser);
  if (path.empty()) return {};
  std::string error = writeWholeFile(path, pngBytes);
  return {std::move(path), std::move(error)};
}

}  // namespace varnholt_app
