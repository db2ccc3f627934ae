#include <cstdio>

int main()
{
    std::puts("bidlark-service: not built yet");
    return 1;
}
