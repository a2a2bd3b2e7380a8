// varnholt: the desktop program under Linux (GTK 3 + WebKitGTK).

#include <glib-unix.h>
#include <gtk/gtk.h>
#ifdef __GLIBC__
#include <malloc.h>
#endif

#include <csignal>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "shell/app_ui.h"
#include "shell/command_line.h"
#include "shell/linux/linux_platform.h"
#include "shell/linux/signal_callback.h"
#include "shell/linux/web_host.h"
#include "shell/page_file.h"

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

// Large blocks are mapped on their own, so freeing them returns them; the
// rest is handed back once a result has been adopted (releaseFreedMemory).
void keepHeapSmall() {
#ifdef __GLIBC__
  mallopt(M_MMAP_THRESHOLD, 1 << 20);
#endif
}

void onRealize(GtkWidget*, gpointer data) { static_cast<Shell*>(data)->app.onCreate(); }

void onDestroy(GtkWidget*, gpointer data) {
  auto* shell = static_cast<Shell*>(data);
  shell->platform.detachWindow();
  shell->app.onDestroy();
}

// A logout or a kill ends the program the way its close box does: watcher
// stopped, window destroyed, status 0.
gboolean onQuitSignal(gpointer data) {
  static_cast<Shell*>(data)->platform.closeMainWindow();
  return G_SOURCE_CONTINUE;
}

int run(const std::vector<std::string>& args) {
  CommandLine cl = parseCommandLine(args);
  checkFolder(cl);
  if (cl.action != CommandLine::Action::Run) {
    std::fputs(cl.text.c_str(), cl.action == CommandLine::Action::Error ? stderr : stdout);
    return commandLineExitCode(cl);
  }
  if (!gtk_init_check(nullptr, nullptr)) {
    std::fputs("varnholt: cannot open a display (is DISPLAY or WAYLAND_DISPLAY set?)\n", stderr);
    return 1;
  }

  keepHeapSmall();
  auto* shell = new Shell;
  shell->app.setTrace(cl.trace);
  AppUI* app = &shell->app;

  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_title(GTK_WINDOW(window), "Varnholt");
  // The installed theme icon (the menu entry's); a build has none, harmlessly.
  gtk_window_set_icon_name(GTK_WINDOW(window), "org.varnholt.Varnholt");
  gtk_window_set_default_size(GTK_WINDOW(window), 1400, 860);
  shell->platform.attachWindow(shell->app, GTK_WINDOW(window));
  // The walk goes on while the web view starts and loads the page; what it
  // reports waits in the main loop, and the page's messages until it is ready.
  if (!cl.folder.empty()) shell->app.startAnalysis(cl.folder, false);
  g_signal_connect(window, "realize", asCallback(&onRealize), shell);
  g_signal_connect(window, "destroy", asCallback(&onDestroy), shell);
  g_unix_signal_add(SIGTERM, &onQuitSignal, shell);
  g_unix_signal_add(SIGINT, &onQuitSignal, shell);

  GtkWidget* view = shell->web.create(
      [app](std::string_view json) { app->handleWebMessage(json); }, cl.trace);
  gtk_container_add(GTK_CONTAINER(window), view);
  gtk_widget_show_all(window);

  shell->web.loadPage(uiPageHtml());
  shell->app.onWebViewReady();

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
