/* The floor of the hook benchmark: a statically linked program, as the hook
 * helper is, that does nothing. */
int main(void)
{
    return 0;
}
