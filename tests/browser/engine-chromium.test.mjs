// The main cases of a page (engine-cases.mjs) in Debian's Chromium, headless, driven by playwright-core.
import { engineCases } from './engine-cases.mjs';

engineCases('chromium');
