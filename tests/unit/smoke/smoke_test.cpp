#include <windows.h>
#include <gtest/gtest.h>
TEST(Smoke, WindowExists) {
    HWND h = CreateWindowExA(0, "STATIC", "x", WS_OVERLAPPED, 0, 0, 10, 10, 0, 0, 0, 0);
    ASSERT_NE(h, nullptr);
    DestroyWindow(h);
}
