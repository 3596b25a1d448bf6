// The peer a small filter is often written as: one locked stdio call per
// byte.  Usage: bytecopy IN OUT
#include <cstdio>

int main(int argc, char **argv)
{
    if (argc != 3)
        return 2;
    FILE *i = fopen(argv[1], "r");
    FILE *o = fopen(argv[2], "w+");
    if (i == nullptr || o == nullptr)
        return 1;
    for (int c; (c = fgetc(i)) != EOF;)
        fputc(c == '[' ? '\t' : c, o);
    return (fclose(i) | fclose(o)) != 0;
}
