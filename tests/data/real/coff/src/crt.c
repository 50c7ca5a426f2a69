/* The start-up hook that gcc calls from main; the images here are linked
   without the C run-time library. */
void __main(void) {}
