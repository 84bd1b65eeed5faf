// The program's entry: the C runtime's main hands over to the entry routine.
#include "app/app.h"

int main() {
  app::start();
}
