/* A small window-manager stand-in for the end-to-end tests:
 *   xwin find TITLE    exits 0 when a top-level window with that title exists
 *   xwin close TITLE   asks that window to close (WM_DELETE_WINDOW), as a window manager does
 *   xwin id TITLE      prints the id of such a window that is on the screen (for screenshots)
 */
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static int TitleIs(Display* d, Window w, const char* title) {
  Atom netName = XInternAtom(d, "_NET_WM_NAME", False);
  Atom utf8 = XInternAtom(d, "UTF8_STRING", False);
  Atom type;
  int format;
  unsigned long n, after;
  unsigned char* data = NULL;
  int match = 0;
  if (XGetWindowProperty(d, w, netName, 0, 1024, False, utf8, &type, &format, &n, &after, &data) ==
          Success &&
      data) {
    match = strcmp((const char*)data, title) == 0;
    XFree(data);
  }
  if (!match) {
    char* name = NULL;
    if (XFetchName(d, w, &name) && name) {
      match = strcmp(name, title) == 0;
      XFree(name);
    }
  }
  return match;
}

static int Viewable(Display* d, Window w) {
  XWindowAttributes a;
  return XGetWindowAttributes(d, w, &a) && a.map_state == IsViewable;
}

static Window Find(Display* d, Window w, const char* title, int depth, int viewable) {
  if (TitleIs(d, w, title) && (!viewable || Viewable(d, w)))
    return w;
  if (depth > 3)
    return 0;
  Window root, parent, *kids = NULL;
  unsigned int n = 0;
  if (!XQueryTree(d, w, &root, &parent, &kids, &n))
    return 0;
  Window found = 0;
  for (unsigned int i = 0; i < n && !found; ++i)
    found = Find(d, kids[i], title, depth + 1, viewable);
  if (kids)
    XFree(kids);
  return found;
}

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: xwin find|close|id TITLE\n");
    return 2;
  }
  Display* d = XOpenDisplay(NULL);
  if (!d) {
    fprintf(stderr, "xwin: no display\n");
    return 2;
  }
  const int wantId = strcmp(argv[1], "id") == 0;
  Window w = Find(d, DefaultRootWindow(d), argv[2], 0, wantId);
  if (!w)
    return 1;
  if (wantId)
    printf("%lu\n", (unsigned long)w);
  if (strcmp(argv[1], "close") == 0) {
    XEvent ev;
    memset(&ev, 0, sizeof ev);
    ev.xclient.type = ClientMessage;
    ev.xclient.window = w;
    ev.xclient.message_type = XInternAtom(d, "WM_PROTOCOLS", False);
    ev.xclient.format = 32;
    ev.xclient.data.l[0] = (long)XInternAtom(d, "WM_DELETE_WINDOW", False);
    ev.xclient.data.l[1] = CurrentTime;
    XSendEvent(d, w, False, NoEventMask, &ev);
    XFlush(d);
  }
  XCloseDisplay(d);
  return 0;
}
