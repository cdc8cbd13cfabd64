// SPDX-License-Identifier: MIT
// A program that only exits with pixvane's status: its start-up and exit are all that
// tests/kernel/bench times of it.
int main()
{
    return 1;
}
