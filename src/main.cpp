// zeb_onvif: the screen camera. Start-up lives in engine/startup.cpp.
int main() { return 0; }
