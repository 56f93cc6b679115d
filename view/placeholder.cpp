namespace meshwick_view_placeholder {}
