// The main cases of a page (engine-cases.mjs) in Debian's Firefox ESR, headless, driven over WebDriver
// BiDi by puppeteer-core.
import { engineCases } from './engine-cases.mjs';

engineCases('firefox');
