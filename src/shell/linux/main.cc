// varnholt: the desktop program under Linux (GTK 3 + WebKitGTK).

#include <gtk/gtk.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "base/utf.h"
#include "shell/app_ui.h"
#include "shell/linux/command_line.h"
#include "shell/linux/glib_poster.h"
#include "shell/linux/linux_platform.h"
#include "shell/linux/page_file.h"
#include "shell/linux/web_host.h"

namespace varnholt_app {
namespace {

// Everything the window needs lives until the process ends: a worker or
// watcher thread may still hold on to it while the process exits.
struct Shell {
  GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
  WebHost web;
  LinuxPlatform platform{loop, web};
  AppUI app{platform};
};

void onRealize(GtkWidget*, gpointer data) { static_cast<Shell*>(data)->app.onCreate(); }

void onDestroy(GtkWidget*, gpointer data) {
  auto* shell = static_cast<Shell*>(data);
  shell->platform.detachWindow();
  shell->app.onDestroy();
}

template <typename F>
GCallback asCallback(F* f) {
  return reinterpret_cast<GCallback>(reinterpret_cast<void (*)()>(f));
}

std::string currentDirectory() {
  char* dir = g_get_current_dir();
  std::string out(dir);
  g_free(dir);
  return out;
}

bool isFolder(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

int run(const std::vector<std::string>& args) {
  const CommandLine cl = parseCommandLine(args);
  switch (cl.action) {
    case CommandLine::Action::Help:
      std::fputs(usageText().c_str(), stdout);
      return 0;
    case CommandLine::Action::Version:
      std::fputs(versionText().c_str(), stdout);
      return 0;
    case CommandLine::Action::Error:
      std::fprintf(stderr, "varnholt: %s\n%s", cl.error.c_str(), usageText().c_str());
      return 2;
    case CommandLine::Action::Run:
      break;
  }
  std::string folder;
  if (!cl.folder.empty()) {
    folder = absoluteFolder(cl.folder, currentDirectory());
    if (!isFolder(folder)) {
      std::fprintf(stderr, "varnholt: '%s' is not a folder\n", cl.folder.c_str());
      return 2;
    }
  }
  if (!gtk_init_check(nullptr, nullptr)) {
    std::fputs("varnholt: cannot open a display (is DISPLAY or WAYLAND_DISPLAY set?)\n", stderr);
    return 1;
  }

  auto* shell = new Shell;
  shell->app.trace = cl.trace;
  AppUI* app = &shell->app;
  auto poster = std::make_shared<GlibWindowPoster>(
      nullptr, [app](uint32_t message, uintptr_t wParam, intptr_t lParam) { app->onAppMessage(message, wParam, lParam); },
      &destroyAppMessagePayload);

  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_title(GTK_WINDOW(window), "Varnholt");
  gtk_window_set_default_size(GTK_WINDOW(window), 1400, 860);
  shell->platform.attachWindow(shell->app, GTK_WINDOW(window), poster);
  g_signal_connect(window, "realize", asCallback(&onRealize), shell);
  g_signal_connect(window, "destroy", asCallback(&onDestroy), shell);

  GtkWidget* view = shell->web.create(
      [app](std::string_view json) { app->handleWebMessage(utf8ToUtf16(json)); }, cl.trace);
  gtk_container_add(GTK_CONTAINER(window), view);
  gtk_widget_show_all(window);

  shell->web.loadPage(uiPageHtml());
  shell->app.onWebViewReady();
  if (!folder.empty()) shell->app.startAnalysis(folder, false);

  g_main_loop_run(shell->loop);
  return shell->platform.exitCode();
}

}  // namespace
}  // namespace varnholt_app

int main(int argc, char** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
  return varnholt_app::run(args);
}
