namespace meshwick_app_placeholder {}
